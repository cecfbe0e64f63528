#pragma once
#include "settings/secret_store.h"

#include <QObject>
#include <QString>
#include <functional>

namespace kingyo {

struct AppPaths;

// The refresh token of the account's sign-in through the browser: it stands for the
// user's consent, so it is kept as a secret. In the keyring under
// accountSecretKey("refresh", this copy's keyring ID) where the account's password would
// be (PasswordPlace::wantsKeyring(): an installed copy, or one whose user chose the
// keyring) and a keyring answers; else in the file "oauth-refresh-token" in the data
// folder, readable by its owner only. A keyring that is there but locked is never
// passed over for the file. A link, folder, FIFO or anything but a plain file in the
// file's place is neither read nor written through. Read once at start-up and then kept
// in memory; nothing waits for the keyring.
class RefreshTokenKeeper : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kFileLimit = 16 * 1024; // bytes; no provider's token comes near
    static QString fileName() { return QStringLiteral("oauth-refresh-token"); }

    explicit RefreshTokenKeeper(const AppPaths &paths, QObject *parent = nullptr);

    // Without a store the file keeps the token.
    void useStore(const SecretStore *store) { store_ = store; }

    // Reads the token of the sign-in the account file names: from the keyring when the
    // file names this copy's secrets there, else (or when the keyring has none) from the
    // file. loaded() follows, from the event loop.
    void load();
    bool isLoaded() const { return loaded_; }
    // The token in use; empty while none is known.
    const QString &token() const { return token_; }
    // The keyring keeps the account's secrets but did not give the token (locked, or no
    // answer), and the file has none either.
    bool withheld() const { return withheld_; }

    enum class Kept {
        Stored,
        KeyringLocked, // the keyring it belongs in is locked: in memory only
        NotStored,     // neither the keyring nor the file took it: in memory only
    };
    using Done = std::function<void(Kept kept)>;
    // A new token: in use at once, then written into the keyring and read back, or else
    // into the file. A copy new to the keyring gets its keyring ID written into the
    // account file ("KEYRING") first. `done`, from the event loop, says where it ended; a
    // token that is not kept anywhere stays in memory for the run.
    void keep(const QString &token, Done done = {});
    // The sign-in ended: the token leaves memory, the keyring and the file.
    void forget();

signals:
    void loaded();

private:
    void markLoaded();
    void keepInFile(const QString &token, const Done &done);
    void finish(Kept kept, const Done &done);
    QString filePath() const;

    const AppPaths &paths_;
    const SecretStore *store_ = nullptr;
    QString token_;
    bool loaded_ = false;
    bool withheld_ = false;
};

} // namespace kingyo
