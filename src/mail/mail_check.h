#pragma once
#include "settings/account_file.h"

#include <QString>

namespace kingyo {

struct SharedState;
class MailLibrary;

// What a mail check needs from the windows and files around it. The program's
// own implementation reaches the real windows; tests record the calls.
class MailCheckSurroundings {
public:
    virtual ~MailCheckSurroundings() = default;
    virtual Account readAccount() = 0;
    // Writes the account into the account dialog's boxes, loading it hidden if needed.
    virtual void fillAccountDialog(const Account &account) = 0;
    virtual void showAccountDialog() = 0;          // modeless
    virtual void showError(const QString &text) = 0; // modal, returns when closed
    virtual void showNotice(int count) = 0;        // modeless notice of the run's result
    virtual bool hangUpAfterCheck() = 0;           // the settings window's hang-up option
    virtual void hangUp() = 0;
};

// The text up to the first NUL character, or the whole text when it has none.
QString trimNull(const QString &text);

// The notice's sentence for a run that found `count` messages (or failed with it).
QString noticeSentence(int count);

// One mail check: connects, logs in with the stored account, fetches every
// waiting message, reports the count and hangs up when asked to. Blocks the
// caller until the library returns; keeps nothing between runs.
class MailCheck {
public:
    MailCheck(SharedState &state, MailLibrary &mail, MailCheckSurroundings &surroundings);

    // Returns the count shown in the notice: messages waiting, 0, or a failure code.
    int run();

private:
    int checkMailbox();
    int logIn(int handle);
    void fetchAll(int handle, int count);
    void reportLibraryFailure();

    SharedState &state_;
    MailLibrary &mail_;
    MailCheckSurroundings &surroundings_;
};

} // namespace kingyo
