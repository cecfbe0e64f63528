#pragma once
#include <QString>

namespace kingyo {

struct AppPaths;

// The POP3 account kept in the account file (section "EXEINI").
struct Account {
    QString userId;   // key "NAME"
    QString password; // key "NAME2", plain text
};

// A missing file, section or key gives an empty text; values are cut to 255 bytes.
Account readAccount(const AppPaths &paths);

// As the account dialog's OK stores it: with the save box ticked "NAME", "NAME2" and
// "NAME3" = "1"; unticked only "NAME3" = "0", so an account stored earlier stays.
// One write with every key, or nothing; the file is left readable by its owner only.
// False when nothing was stored.
bool writeAccount(const AppPaths &paths, const Account &account, bool save);

} // namespace kingyo
