// The desktop's secret store through libsecret: the library of the freedesktop Secret Service
// that GNOME Keyring, KWallet (5.97 and later) and KeePassXC all serve, in C with no toolkit of its
// own, so the store layer stays free of Qt.
#include <libsecret/secret.h>

#include "store/SecretStore.h"

namespace vantrel {

namespace {

const SecretSchema* Schema() {
    static const SecretSchema schema = {
        "org.vantrel.Password",
        SECRET_SCHEMA_NONE,
        {{"key", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr};
    return &schema;
}

// Takes the error's message and frees it.
std::string Message(GError* error) {
    std::string text = error && error->message ? error->message : "unknown failure";
    if (error) g_error_free(error);
    return text;
}

class LibSecretStore : public SecretStore {
  public:
    std::string unavailable() override {
        GError* error = nullptr;
        // Opening a session asks the service itself, which a bare connection to the bus does not.
        SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
        if (!service) return "No secret service is running (" + Message(error) + ")";
        g_object_unref(service);
        return {};
    }

    std::string save(const std::string& key, const std::string& label, const std::string& secret) override {
        if (std::string why = unavailable(); !why.empty()) return why;
        GError* error = nullptr;
        if (!secret_password_store_sync(Schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), secret.c_str(),
                                        nullptr, &error, "key", key.c_str(), nullptr))
            return "The secret service did not keep the password (" + Message(error) + ")";
        return {};
    }

    std::optional<std::string> load(const std::string& key) override {
        GError* error = nullptr;
        gchar* found = secret_password_lookup_sync(Schema(), nullptr, &error, "key", key.c_str(), nullptr);
        if (error) g_error_free(error);
        if (!found) return std::nullopt;
        std::string secret = found;
        secret_password_free(found);
        return secret;
    }

    void remove(const std::string& key) override {
        GError* error = nullptr;
        secret_password_clear_sync(Schema(), nullptr, &error, "key", key.c_str(), nullptr);
        if (error) g_error_free(error);
    }
};

}  // namespace

std::unique_ptr<SecretStore> MakeDesktopSecretStore() {
    return std::make_unique<LibSecretStore>();
}

}  // namespace vantrel
