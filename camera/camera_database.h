// Per-camera settings in the SQLite file "setting.db": one row per physical
// camera in the table `camera`, found by a key derived from the camera's
// unique name. Every statement binds its values; column names come only from
// a fixed list.
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QRecursiveMutex>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

class RetrySchedule;

// One row of the `camera` table (the `id` column aside).
struct CameraRow {
    QString pid;  // the lookup key
    int isnv12 = 0;
    int decodeWay = 0;
    int exposureMode = 1;  // -1 none, 1 auto, other manual
    int exposureGain = 0;
    int exposureCompensation = 56;
    int exposureTime = 0;
    int zoom = 0;
    int whiteBalanceMode = 1;  // -1 none, 1 auto, other manual
    int whiteBalanceR = 1;
    int whiteBalanceG = 1;
    int whiteBalanceB = 1;
    int hueValue = 50;
    int saturationValue = 50;  // 0 = monochrome
    int contrastValue = 50;
    int sharpnessValue = 8;
    int flip = 0;
    int mirror = 0;
    int focusMode = 1;
    int focusValue = -1;
    int hdrValue = 6;  // gamma
    int defogMode = 0;
    int frameMode = 0;  // flicker
    QString resolution;
    int fps = 30;
    int bitrate = 0;  // quality index 0..2
    QString pictureResolution;

    // The values in the order of CameraDatabase::columns().
    QVariantList values() const;
    static bool fromValues(const QVariantList &values, CameraRow &row);
    // Sets one column by its table name; false for an unknown column or a
    // number column given no whole number (the row is then unchanged).
    bool set(const QString &column, const QVariant &value);
};

class CameraDatabase
{
public:
    static CameraDatabase &instance();

    // The writable application-data folder + "/setting.db".
    static QString defaultPath();
    // Key of a unique name: the whole name when it contains "IPC" (network
    // cameras); otherwise the name less its last 7 characters, from its first
    // "usb" on. Empty when nothing is left.
    static QString lookupKey(const QString &uniqueName);
    // The table's columns after `id`, in table order (pid first).
    static const QStringList &columns();
    static const QString &createTableSql();
    // How long a statement waits for another program's lock on the file
    // before it fails, in milliseconds. The settings panel writes on the
    // window's thread: a click must not hang for the driver's 5 s on a file
    // another program holds, while that program's own commits on a file of a
    // few pages (an fsync or two on a slow disk) are over well within it.
    static constexpr int kBusyTimeoutMs = 250;
    // A change made less than this after the last one that met another
    // program's lock tries the file without waiting for it: a reset or a
    // slider drag under the same lock holds the window for one wait, not one
    // per value. After a quiet moment a change waits again, so that a short
    // commit of the other program is ridden out.
    static constexpr int kLockBurstMs = 1000;
    // Changes that did not reach the file are tried again, without waiting
    // for a lock, kLockBurstMs after the last change that failed, and then at
    // twice the interval before, up to this many milliseconds, until they go
    // through.
    static constexpr int kRetryMaxMs = 4000;
    // The store at close waits this long, once, for another program's lock:
    // nobody waits on the window then, and a commit of the other program
    // that was under way is over well within it.
    static constexpr int kExitBusyTimeoutMs = 1000;
    // What the user is told of a failed statement: SQLite's own reason
    // ("database is locked"), or the driver's where SQLite gave none.
    static QString causeOf(const QSqlError &error);

    void setDatabaseName(const QString &path);
    QString databaseName() const;
    bool open();
    void close();
    bool isOpen() const;
    // Closes, names the file, opens and closes again: creates an empty file.
    void testOpen(const QString &path);

    // Start-up: opens `path` (creating the file when missing) and creates the
    // table when the file lacks it. Anything but Opened leaves the database
    // closed and the file as it was (logged, with the reason in `reason`):
    // Damaged for a file that SQLite finds is no database or is corrupt,
    // OtherTable for a camera table without the columns this program uses,
    // Failed for anything else (no permission, locked, cannot be created).
    enum class OpenResult { Opened, Damaged, OtherTable, Failed };
    OpenResult openOrCreate(const QString &path, QString *reason = nullptr);

    struct Result {
        QSqlQuery query;
        QSqlError error;
        bool ok = false;
    };
    // Runs one statement with bound values inside a transaction. A closed
    // database gives ok = false without touching the file.
    Result exec(const QString &sql, const QVariantList &bound = {});

    // The row whose pid equals `key` exactly; false when there is none, the
    // key is empty or the read failed.
    bool findRow(const QString &key, CameraRow &row);
    // The same, telling a camera without a row (Missing) from a row that is
    // there but holds no usable values (Damaged) and from a read that failed
    // (Failed: a lock of another program, an unreadable file); neither must
    // get a second row. `cause` says why, for the user. Changes of the
    // camera that did not reach the file are tried first; those that still
    // can't be written stay kept (keptChanges), to be laid over the row.
    enum class Lookup { Found, Missing, Damaged, Failed };
    Lookup lookupRow(const QString &key, CameraRow &row, QString *cause = nullptr);
    // The columns of the camera's changes that did not reach the file yet,
    // with the values they gave: what the camera is to use over its row.
    QVariantMap keptChanges(const QString &key) const;
    // Inserts `row` under `key`; false on failure (logged, and causeOf in
    // `error`: the caller tells the user).
    bool insertRow(const QString &key, const CameraRow &row, QString *error = nullptr);
    // The user's changes. Both are false on failure, which is logged and
    // told through SettingsStore::noteWriteOf, as is a success that ends it.
    // What a failed change gave is kept and written with the camera's next
    // change that goes through, or by itself on the application's thread a
    // quiet moment after the last change that failed (kLockBurstMs, then
    // longer up to kRetryMaxMs), so the row then holds the values in use. A
    // retry that fails is not told again.
    // Writes every column of the row of `key` (the first, where there are
    // several), or inserts it when there is none.
    bool replaceRow(const QString &key, const CameraRow &row);
    // Writes one column of the camera's row. Refuses columns outside the
    // table's list (and `pid`), names whose key is empty and values that are
    // no whole number for a number column (the row would no longer load); logs
    // "saveCameraProperty error. Can not find the entry for cur camera <key>"
    // when the camera has no row.
    bool saveCameraProperty(const QString &uniqueName, const QString &column, const QVariant &value);
    // At exit: writes the changes still kept, waiting once for another
    // program's lock (kExitBusyTimeoutMs), and logs by camera and column those that still
    // can't be stored ("Camera settings lost: ..."). Nothing is kept after it.
    void storeKeptAtExit();

private:
    CameraDatabase();
    ~CameraDatabase();
    OpenResult openLocked(const QString &path, QString &reason);
    // The id of the first row of `key`, invalid when there is none.
    Result findId(const QString &key, QVariant &id);
    Result insert(const QString &key, const CameraRow &row, bool logFailure = true);
    void noteChange(const Result &changed);
    // Writes what is kept for `key`, inserting the row when a whole row is
    // kept and the camera has none.
    Result storeKept(const QString &key);
    // Sets the given columns of the row with `id`.
    Result updateColumns(const QVariant &id, const QVariantMap &changes);
    // Stores what is kept without waiting; true when nothing is left.
    bool retryKept();
    // Tells the settings store the file holds everything again.
    void noteAllStored();
    class ChangeWait;

    mutable QRecursiveMutex mutex_;
    QSqlDatabase database_;
    // Since the last change met another program's lock; invalid once one
    // went through or failed for another cause.
    QElapsedTimer lockMet_;
    // By key: the columns whose last change did not reach the file, with
    // the value that change gave.
    QHash<QString, QVariantMap> unsaved_;
    const std::unique_ptr<RetrySchedule> retry_;
};
