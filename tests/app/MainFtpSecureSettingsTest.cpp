// The main window's "Private Key", "SSH V1" and "SSH V2" fields as settings for the SSH client,
// typed and clicked in the real widgets.
#include "TestPrompts.h"
#include "app/Dialogs.h"
#include "app/MainFtp.h"
#include "conveniences/Tips.h"
#include "settings/FormSettings.h"
#include "ssh/SshAgent.h"
#include "ssh/SshClient.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace Varnello::Ssh;

TEST(MainFtpSecureSettings, FieldsBecomeTheClientsKeyAndVersions) {
    QTemporaryDir home;
    QApplication::setApplicationName("Varnello");
    TFormSettings::StorageFile = home.filePath("settings.ini");
    qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
    std::vector<TDialogRequest> dialogs;
    auto prompts = std::make_unique<TTestPrompts>(home.filePath("recent.INI"));
    prompts->OnAsk = [&](TDialogRequest& r) {
        dialogs.push_back(r);
        return 1;
    };
    {
        TFormMain window(nullptr, std::move(prompts));
        window.Tips1->ShowOnStartup = false;
        TNvSSHLogonSettings s = window.SecureLogonSettings();
        EXPECT_TRUE(s.PrivateKey.empty());
        EXPECT_FALSE(s.SshV1);
        EXPECT_FALSE(s.SshV2);

        window.EditPrivKey->setFocus();
        QTest::keyClicks(window.EditPrivKey, " " + home.filePath("no-such-key") + " ");
        QTest::mouseClick(window.CBSSH1, Qt::LeftButton, {}, QPoint(4, window.CBSSH1->height() / 2));
        s = window.SecureLogonSettings();
        EXPECT_EQ(s.PrivateKey, home.filePath("no-such-key").toStdString());
        EXPECT_TRUE(s.SshV1);
        EXPECT_FALSE(s.SshV2);

        // Applied to a client: protocol 1.5 allowed with a warning, and the missing key reported.
        TNvSSHClient client;
        TNvSSHUserKeys keys(home.filePath("no-agent.sock").toStdString());
        std::vector<std::string> log;
        keys.OnLog = [&](const std::string& m) { log.push_back(m); };
        keys.Apply(client, s);
        EXPECT_EQ(client.Versions, qxSSH1 | qxSSH2);
        EXPECT_EQ(client.KeyStorage(), nullptr);
        ASSERT_EQ(log.size(), 2u);
        EXPECT_NE(log[1].find("no-such-key"), std::string::npos) << log[1];
    }
    TFormSettings::StorageFile.clear();
    qunsetenv("XDG_DATA_HOME");
}
