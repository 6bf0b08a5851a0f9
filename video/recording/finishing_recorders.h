// Recordings that finish after their owner has gone. A capture thread closed
// while it records hands its recorder and the recorder's thread over here and
// returns at once; the recorder stops on its own thread (the encoder drains,
// the file is finalised), reports `recordingFinished` to whoever listens to it,
// and then the recorder and its thread are deleted. At exit the program waits
// for them, with a bound.
#pragma once

class QThread;
class VideoRecorder;

class FinishingRecorders
{
public:
    // How long the program waits at exit for recordings still finishing, in
    // milliseconds. A few gigabytes of recording are finalised in that time.
    static constexpr int kShutdownWaitMs = 10000;
    // After the bound: how long recorders get to let go of their files once
    // told to give up finalising.
    static constexpr int kAbandonGraceMs = 3000;

    // Takes both: `recorder` lives on `thread`. Returns at once. GUI thread.
    static void adopt(VideoRecorder *recorder, QThread *thread);
    // Waits up to `timeoutMs` for every adopted recorder to finish its file.
    // Past that, finalising still running is given up (each such file stays
    // the fragmented recording, which plays) and the wait goes on until the
    // recorders have let go of their files, at most kAbandonGraceMs. True
    // when every file was finished within `timeoutMs`. GUI thread.
    static bool waitForAll(int timeoutMs);
    // Adopted recorders not deleted yet.
    static int pendingCount();
};
