#include "net/LookupThreads.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace vantrel {

namespace {

struct Slot {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> ended;
};

// Every look-up thread not joined yet. The one object of it is destroyed after main returns,
// and joins what is left then, so no look-up runs on unseen while the program tears down.
class Registry {
  public:
    ~Registry() { joinAll(); }

    void run(std::function<void()> call) {
        auto ended = std::make_shared<std::atomic<bool>>(false);
        std::list<Slot> done;
        {
            std::lock_guard lock(mutex_);
            for (auto it = slots_.begin(); it != slots_.end();) {
                auto next = std::next(it);
                if (it->ended->load(std::memory_order_acquire)) done.splice(done.end(), slots_, it);
                it = next;
            }
            slots_.push_back({std::thread([call = std::move(call), ended] {
                                  call();
                                  ended->store(true, std::memory_order_release);
                              }),
                              ended});
        }
        // Joined outside the lock: an ended call's thread is past its last step, so this is quick.
        for (Slot& slot : done) slot.thread.join();
    }

    void joinAll() {
        std::list<Slot> all;
        {
            std::lock_guard lock(mutex_);
            all.swap(slots_);
        }
        for (Slot& slot : all) slot.thread.join();
    }

    size_t unjoined() {
        std::lock_guard lock(mutex_);
        return slots_.size();
    }

  private:
    std::mutex mutex_;
    std::list<Slot> slots_;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

}  // namespace

void LookupThreads::run(std::function<void()> call) {
    registry().run(std::move(call));
}

void LookupThreads::joinAll() {
    registry().joinAll();
}

size_t LookupThreads::unjoined() {
    return registry().unjoined();
}

}  // namespace vantrel
