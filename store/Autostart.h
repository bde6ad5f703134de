#pragma once
// Start with the system: registers or removes the command that starts the program hidden at
// log-on. An interface, so another platform's backend can slot in.
namespace vantrel {

class Autostart {
  public:
    virtual ~Autostart() = default;
    // on: write the registration (throws Error("Failed to set data for 'Vantrel'") on a failed
    // write); off: remove it if present, ignoring failures. A machine-wide location that cannot
    // be opened is silently left alone; the user's own location is made when missing, and a
    // failure to make it is a failed write.
    virtual void apply(bool on) = 0;
};

}  // namespace vantrel
