#include "recording_file.h"

#include "portable.h"

#include <cerrno>
#include <climits>

RecordingFile::~RecordingFile()
{
    release();
}

bool RecordingFile::follow(const QString &path)
{
    release();
    descriptor_ = pf_file_open_read(path.toUtf8().constData());
    return descriptor_ >= 0;
}

void RecordingFile::release()
{
    pf_file_close(descriptor_);
    descriptor_ = -1;
}

namespace {

// 0 when `path` names the open file `descriptor` (or, without one, anything);
// else the errno of the look-up, or EEXIST when the path names another file.
int lookUp(int descriptor, const QString &path)
{
    pf_file_id atPath;
    const int error = pf_path_identity(path.toUtf8().constData(), &atPath);
    if (error != 0 || descriptor < 0)
        return error;
    pf_file_id open;
    uint64_t links = 0;
    if (pf_fd_identity(descriptor, &open, &links) != 0)
        return 0;
    return pf_same_file(&open, &atPath) ? 0 : EEXIST;
}

bool leadsNowhere(int error)
{
    return error == ENOENT || error == ENOTDIR || error == EEXIST;
}

}  // namespace

bool RecordingFile::isAt(const QString &path) const
{
    return lookUp(descriptor_, path) == 0;
}

RecordingFile::Place RecordingFile::locate(const QString &lastPath) const
{
    // A look-up the system refuses for another reason (a folder that can't
    // be searched) says nothing about the file.
    const int error = lookUp(descriptor_, lastPath);
    if (!leadsNowhere(error))
        return Place{lastPath, 0};
    if (descriptor_ < 0)
        return Place{QString(), error};
    pf_file_id open;
    uint64_t links = 0;
    if (pf_fd_identity(descriptor_, &open, &links) == 0 && links > 0) {
        char current[PATH_MAX];
        if (pf_fd_path(descriptor_, current, sizeof current) == 0) {
            const QString moved = QString::fromUtf8(current);
            if (isAt(moved))
                return Place{moved, 0};
        }
    }
    return Place{QString(), ENOENT};
}
