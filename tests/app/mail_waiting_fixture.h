#pragma once
// The program wired with a scripted mail library and a bowl, for tests of what a
// finished mail check shows.
#include "app/application.h"
#include "app/mail_check_windows.h"
#include "app/program.h"
#include "fish/bowl_window.h"
#include "fish/living_bowl.h"
#include "mail/mail_check.h"
#include "mail/recording_mail_library.h"
#include "panel/message_box_queue.h"
#include "panel/msg_form.h"
#include "support/fakes.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace kingyo::test {

class MailWaitingFixture : public ::testing::Test {
protected:
    MailWaitingFixture() : mail(mailLog)
    {
        context.random = &random;
        context.clock = &clock;
        context.mail = &mail;
        context.settings.state().pop3Server = QStringLiteral("127.0.0.1:1");
        context.settings.confirmAccount({QStringLiteral("kingyo"), QStringLiteral("pw")}, false);
        wireWindows(context);
        bowl = std::make_unique<BowlWindow>(random, clock);
        wireBowl(context, *bowl);
        wireMailCheck(context);
    }
    ~MailWaitingFixture() override
    {
        context.mailCheck->shutDown(false);
        discardWindows(context);
    }

    // A check the user clicked for, or the timer ran, finding `waiting` messages; over
    // once the boxes it posted were answered.
    void check(int waiting, void (*run)(Program &) = runMailCheck)
    {
        mail.authenticateResult = waiting;
        QSignalSpy finished(context.mailCheck.get(), &MailCheck::finished);
        run(context);
        ASSERT_TRUE(finished.wait(5000));
        ASSERT_TRUE(QTest::qWaitFor([this] { return context.boxes->isEmpty(); }, 5000));
    }
    void timedCheck(int waiting) { check(waiting, runPeriodicMailCheck); }
    bool letter() { return bowl->living().mailWaiting(); }

    QStringList mailLog;
    RecordingMailLibrary mail;
    testing::ScriptedRandom random;
    testing::SteppingClock clock;
    Program context;
    std::unique_ptr<BowlWindow> bowl;
};

} // namespace kingyo::test
