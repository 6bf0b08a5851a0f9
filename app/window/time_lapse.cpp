#include "time_lapse.h"

TimeLapseSchedule::TimeLapseSchedule(int number, int interval)
    : number_(number), interval_(interval), countdown_(interval)
{
}

TimeLapseSchedule::Step TimeLapseSchedule::tick(bool shooterBusy)
{
    if (taken_ >= number_)
        return Step::Done;
    if (countdown_ > 0)
        --countdown_;
    // A shot that is due stays due (countdown 0) until the shooter is free.
    if (countdown_ >= 1 || shooterBusy)
        return Step::Wait;
    countdown_ = interval_;
    return Step::Shoot;
}

void TimeLapseSchedule::shotTaken()
{
    if (taken_ < number_)
        ++taken_;
}
