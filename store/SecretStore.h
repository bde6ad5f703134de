#pragma once
// Passwords kept in the desktop's secret store (the freedesktop Secret Service: GNOME Keyring,
// KWallet, KeePassXC), never written to disk by the program. An interface, so that the windows
// and the checks can be tested with a store in memory.
#include <memory>
#include <optional>
#include <string>

namespace vantrel {

class SecretStore {
  public:
    virtual ~SecretStore() = default;

    // Why no password can be kept now ("No secret service is running: ..."), in words for the
    // user; empty when the store answers.
    virtual std::string unavailable() = 0;
    // Keeps `secret` under `key`, replacing what was kept there. Returns why it could not, or
    // empty. `label` is what the desktop's keyring manager shows for it.
    virtual std::string save(const std::string& key, const std::string& label, const std::string& secret) = 0;
    // The secret kept under `key`; nullopt when there is none or the store cannot be asked.
    virtual std::optional<std::string> load(const std::string& key) = 0;
    // Forgets the secret under `key`; nothing happens when there is none.
    virtual void remove(const std::string& key) = 0;
};

// The desktop's store through libsecret.
std::unique_ptr<SecretStore> MakeDesktopSecretStore();

}  // namespace vantrel
