#pragma once
// A secret store in memory for tests of the windows and the checks: it answers, or it says that no
// secret service runs, as the test chooses.
#include <map>

#include "store/SecretStore.h"

namespace vantrel::test {

class FakeSecretStore : public SecretStore {
  public:
    std::string why;  // set: no service runs, and nothing is kept
    std::map<std::string, std::string> secrets;

    std::string unavailable() override { return why; }
    std::string save(const std::string& key, const std::string&, const std::string& secret) override {
        if (!why.empty()) return why;
        secrets[key] = secret;
        return {};
    }
    std::optional<std::string> load(const std::string& key) override {
        const auto it = secrets.find(key);
        if (it == secrets.end()) return std::nullopt;
        return it->second;
    }
    void remove(const std::string& key) override { secrets.erase(key); }
};

}  // namespace vantrel::test
