// The file a recording writes, known by what it is rather than by its name: a
// descriptor of its own keeps it in view when it is renamed, its folder with
// it, or removed, and tells it apart from another file made at its path.
#pragma once

#include <QString>

class RecordingFile
{
public:
    RecordingFile() = default;
    ~RecordingFile();
    RecordingFile(const RecordingFile &) = delete;
    RecordingFile &operator=(const RecordingFile &) = delete;

    // Follows the file just created at `path`. False when it can't be opened;
    // the file is then known by its path alone.
    bool follow(const QString &path);
    void release();

    struct Place {
        QString path;   // empty once the file is lost
        int error = 0;  // the errno of why it is lost
    };
    // Where the file is now, given the path it was last seen at. Lost once it
    // has no name left (removed, or its folder with it), or when no name that
    // reaches it can be found (its path names another file).
    Place locate(const QString &lastPath) const;
    // Whether `path` names this very file.
    bool isAt(const QString &path) const;

private:
    int descriptor_ = -1;
};
