// The desktop's secret store through libsecret: the library of the freedesktop Secret Service
// that GNOME Keyring, KWallet (5.97 and later) and KeePassXC all serve, in C with no toolkit of its
// own, so the store layer stays free of Qt.
#include <dlfcn.h>
#include <libsecret/secret.h>

#include "store/SecretStore.h"

namespace vantrel {

namespace {

// libsecret is loaded when a password is first asked for, not with the program: with GLib's gio
// and gobject it maps over a megabyte that a list without passwords never needs. Only its headers
// are used at build time.
// clang-format off
#define VANTREL_SECRET_FUNCTIONS(X)                                                      \
    X(secret_service_get_sync) X(secret_password_store_sync) X(secret_password_lookup_sync) \
    X(secret_password_clear_sync) X(secret_password_free) X(g_object_unref) X(g_error_free)
// clang-format on

struct LibSecret {
#define VANTREL_DECLARE(name) decltype(&::name) name = nullptr;
    VANTREL_SECRET_FUNCTIONS(VANTREL_DECLARE)
#undef VANTREL_DECLARE
    std::string error;  // why it could not be loaded; empty when loaded
};

// Loaded on the first call and kept to the end of the run: GLib's type system cannot be unloaded.
const LibSecret& Secret() {
    static const LibSecret api = [] {
        LibSecret loaded;
        // libsecret brings gio, gobject and glib; a look-up through its handle covers them all.
        void* library = ::dlopen("libsecret-1.so.0", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!library) {
            const char* why = ::dlerror();
            loaded.error = why ? why : "libsecret-1.so.0 not found";
            return loaded;
        }
#define VANTREL_RESOLVE(name)                                                   \
    loaded.name = reinterpret_cast<decltype(&::name)>(::dlsym(library, #name)); \
    if (!loaded.name && loaded.error.empty()) loaded.error = "libsecret-1.so.0 has no " #name;
        VANTREL_SECRET_FUNCTIONS(VANTREL_RESOLVE)
#undef VANTREL_RESOLVE
        return loaded;
    }();
    return api;
}

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
    if (error) Secret().g_error_free(error);
    return text;
}

class LibSecretStore : public SecretStore {
  public:
    std::string unavailable() override {
        const LibSecret& secret = Secret();
        if (!secret.error.empty())
            return "The secret service library could not be loaded (" + secret.error + ")";
        GError* error = nullptr;
        // Opening a session asks the service itself, which a bare connection to the bus does not.
        SecretService* service = secret.secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
        if (!service) return "No secret service is running (" + Message(error) + ")";
        secret.g_object_unref(service);
        return {};
    }

    std::string save(const std::string& key, const std::string& label, const std::string& secret) override {
        if (std::string why = unavailable(); !why.empty()) return why;
        GError* error = nullptr;
        if (!Secret().secret_password_store_sync(Schema(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                                                 secret.c_str(), nullptr, &error, "key", key.c_str(),
                                                 nullptr))
            return "The secret service did not keep the password (" + Message(error) + ")";
        return {};
    }

    std::optional<std::string> load(const std::string& key) override {
        const LibSecret& api = Secret();
        if (!api.error.empty()) return std::nullopt;
        GError* error = nullptr;
        gchar* found =
            api.secret_password_lookup_sync(Schema(), nullptr, &error, "key", key.c_str(), nullptr);
        if (error) api.g_error_free(error);
        if (!found) return std::nullopt;
        std::string secret = found;
        api.secret_password_free(found);
        return secret;
    }

    void remove(const std::string& key) override {
        const LibSecret& api = Secret();
        if (!api.error.empty()) return;
        GError* error = nullptr;
        api.secret_password_clear_sync(Schema(), nullptr, &error, "key", key.c_str(), nullptr);
        if (error) api.g_error_free(error);
    }
};

}  // namespace

std::unique_ptr<SecretStore> MakeDesktopSecretStore() {
    return std::make_unique<LibSecretStore>();
}

}  // namespace vantrel
