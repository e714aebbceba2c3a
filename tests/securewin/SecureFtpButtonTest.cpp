// The main window's "Secure FTP" button: every click opens another window with the host, user
// and password copied; a port where nothing listens leaves the window open and disconnected.
#include "../app/TestPrompts.h"
#include "../ssh/SshdFixture.h"

#include "app/Dialogs.h"
#include "app/MainFtp.h"
#include "conveniences/Tips.h"
#include "securewin/UnitSFTP.h"
#include "settings/FormSettings.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using Varnello::SecureWin::TFormSFTP;

TEST(SecureFtpButton, EachClickOpensAWindowWithTheFieldsCopied) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QApplication::setApplicationName("Varnello");
    TFormSettings::StorageFile = home.filePath("settings.ini");
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
    // The main window's own messages (such as a data file missing beside the test binary) are
    // answered without a modal loop.
    std::vector<QString> dialogs;
    auto prompts = std::make_unique<TTestPrompts>(home.filePath("recent.INI"));
    prompts->OnAsk = [&](TDialogRequest& r) {
        dialogs.push_back(r.Text);
        return 1;
    };
    {
        TFormMain w(nullptr, std::move(prompts));
        w.Tips1->ShowOnStartup = false;
        const int port = SshdTest::FreePort();
        w.FTPEdit->setText(QString("127.0.0.1:%1").arg(port));
        w.LogonEdit->setText("someone");
        w.PassEdit->setText("secret");
        QTest::mouseClick(w.BtnSftp, Qt::LeftButton);
        QTest::mouseClick(w.BtnSftp, Qt::LeftButton);
        const auto forms = w.findChildren<TFormSFTP*>();
        ASSERT_EQ(forms.size(), 2);
        for (TFormSFTP* f : forms) {
            EXPECT_EQ(f->editHost->text(), QString("127.0.0.1:%1").arg(port));
            EXPECT_EQ(f->editUserName->text(), "someone");
            EXPECT_EQ(f->editPassword->text(), "secret");
            EXPECT_EQ(f->windowTitle(), QString("Varnello Secure FTP [127.0.0.1:%1]").arg(port));
            EXPECT_TRUE(f->isVisible());
        }
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return forms[0]->Memo1->toPlainText().contains("Error:"); }, 10000));
        forms[0]->CreateDirectoryClick();
        EXPECT_TRUE(forms[0]->Memo1->toPlainText().contains("Error: not connected"));
        forms[0]->close();
        QTest::qWait(50);
        EXPECT_EQ(w.findChildren<TFormSFTP*>().size(), 1) << "a closed window is released";
    }
    TFormSettings::StorageFile.clear();
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");
}
