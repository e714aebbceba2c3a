// Certificate question and TLS setting of the FTP tab; see CertificatePrompt.h.
#include "app/CertificatePrompt.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QStandardPaths>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include "app/Dialogs.h"
#include "app/MainFtp.h"
#include "ftp/inet/FtpTrust.h"

DWORD TlsModeForEncryptionIndex(int index) {
    switch (index) {
    case 1:
        return FTP_TLS_EXPLICIT_REQUIRED;
    case 2:
        return FTP_TLS_IMPLICIT;
    case 3:
        return FTP_TLS_PLAIN;
    default:
        return FTP_TLS_EXPLICIT_IF_OFFERED;
    }
}

BOOL AskAboutCertificate(const TFtpCertificateInfo* info, void* context) {
    auto* form = static_cast<TFormMain*>(context);
    if (!form || !info || QThread::currentThread() != qApp->thread()) return 0;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(folder);
    TFtpTrustStore store((folder + "/ftp_certificates").toStdString());
    const std::string remembered = store.Lookup(info->Host, info->Port);
    if (!remembered.empty() && remembered == info->Fingerprint) return 1;
    const std::string once =
        std::string(info->Host) + ":" + std::to_string(info->Port) + " " + info->Fingerprint;
    if (form->FCertificatesTrustedOnce.count(once)) return 1;

    const QString server = QString::fromStdString(info->Host) + ":" + QString::number(info->Port);
    QString text;
    if (!remembered.empty())
        text = "WARNING: the certificate of " + server +
               " has changed since you chose to trust it. Someone may be intercepting the connection.\n"
               "Previously trusted fingerprint:\n" +
               QString::fromStdString(remembered) + "\n\n";
    text += "The server's certificate is not trusted: " + QString::fromUtf8(info->Problem) + ".\n\n" +
            "Subject: " + QString::fromUtf8(info->Subject) + "\nIssuer: " + QString::fromUtf8(info->Issuer) +
            "\nValid from: " + QString::fromUtf8(info->NotBefore) +
            "\nValid until: " + QString::fromUtf8(info->NotAfter) + "\nSHA-256 fingerprint:\n" +
            QString::fromUtf8(info->Fingerprint);
    TDialogRequest request;
    request.Title = "Server certificate";
    request.Text = text;
    request.Buttons = {"Trust and remember", "Trust once", "Cancel"};
    request.Icon = QMessageBox::Warning;
    const int answer = form->Prompts->Ask(form, request);
    if (answer == 1) {
        store.Remember(info->Host, info->Port, info->Fingerprint);
        return 1;
    }
    if (answer != 2) return 0;
    form->FCertificatesTrustedOnce.insert(once);
    return 1;
}

void TFormMain::ShowConnectionSecurity() {
    if (!StatusSecurity) {
        StatusSecurity = new QLabel(statusBar());
        StatusSecurity->setObjectName("StatusSecurity");
        StatusSecurity->setAccessibleDescription("Encryption");
        StatusSecurity->setTextFormat(Qt::PlainText);
        statusBar()->addPermanentWidget(StatusSecurity);
        // NOOP after the layer's idle time; a connection busy with a transfer is left alone.
        auto* idle = new QTimer(this);
        idle->setObjectName("IdleTimer");
        connect(idle, &QTimer::timeout, this, [this] {
            if (FConnection && !FWorkerRunning) FtpKeepAlive(static_cast<HINTERNET>(FConnection));
        });
        idle->start(5000);
    }
    char version[32] = "";
    if (!FConnection) {
        StatusSecurity->setText("");
    } else if (FtpGetConnectionSecurity(static_cast<HINTERNET>(FConnection), version, sizeof version) &&
               version[0]) {
        StatusSecurity->setText(QString("Encrypted (%1)").arg(version));
    } else {
        StatusSecurity->setText("Not encrypted");
    }
}
