// The schedule of a time-lapse series, ticked once a second: the first shot
// comes `interval` seconds after the start, the next ones every `interval`
// seconds, and the series ends one second after its last shot. Only shots
// that were really taken count, and no shot is asked for while the previous
// one is still being taken.
#pragma once

class TimeLapseSchedule
{
public:
    enum class Step {
        Wait,   // nothing to do but show the progress
        Shoot,  // take a shot now and report it with shotTaken
        Done,   // every shot is taken
    };

    // Both must be above zero.
    TimeLapseSchedule(int number, int interval);

    // One second has passed. While `shooterBusy` a due shot waits for the
    // next second instead of starting inside the one being taken.
    Step tick(bool shooterBusy);
    // The shot asked for by the last Shoot was saved.
    void shotTaken();

    int number() const { return number_; }
    int interval() const { return interval_; }
    int taken() const { return taken_; }
    // Seconds until the next shot.
    int countdown() const { return countdown_; }

private:
    int number_;
    int interval_;
    int taken_ = 0;
    int countdown_;
};
