#include "camera_database.h"

#include "retry_schedule.h"
#include "settings_store.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSqlRecord>
#include <QStandardPaths>

namespace {

const char *const kCreateTable =
    "CREATE TABLE camera (id INTEGER PRIMARY KEY AUTOINCREMENT, pid VARCHAR(100) NOT NULL, isnv12 INTEGER NOT "
    "NULL, decodeWay INTEGER(40) NOT NULL,exposureMode INTEGER(40) NOT NULL,exposureGain INTEGER(40) NOT "
    "NULL,exposureCompensation INTEGER(40) NOT NULL,exposureTime INTEGER(40) NOT NULL,Zoom INTEGER(40) NOT "
    "NULL,whiteBalanceMode INTEGER(40) NOT NULL,whiteBalanceR INTEGER(40) NOT NULL,whiteBalanceG INTEGER(40) NOT "
    "NULL,whiteBalanceB INTEGER(40) NOT NULL,hueValue INTEGER(40) NOT NULL,saturationValue INTEGER(40) NOT "
    "NULL,contrastValue INTEGER(40) NOT NULL,sharpnessValue INTEGER(40) NOT NULL,flip INTEGER(40) NOT NULL,mirror "
    "INTEGER(40) NOT NULL,focusMode INTEGER(40) NOT NULL,focusValue INTEGER(40) NOT NULL,HDRValue INTEGER(40) NOT "
    "NULL,defogMode INTEGER(40) NOT NULL,frameMode INTEGER(40) NOT NULL,resolution VARCHAR(20) NOT NULL,fps "
    "INTEGER(40) NOT NULL,bitrate INTEGER(40) NOT NULL,pictureResolution VARCHAR(20) NOT NULL)";

bool toInt(const QVariant &value, int &out)
{
    bool ok = false;
    out = value.toInt(&ok);
    return ok;
}

} // namespace

QVariantList CameraRow::values() const
{
    return {pid,          isnv12,         decodeWay,     exposureMode,   exposureGain,  exposureCompensation,
            exposureTime, zoom,           whiteBalanceMode, whiteBalanceR, whiteBalanceG, whiteBalanceB,
            hueValue,     saturationValue, contrastValue, sharpnessValue, flip,          mirror,
            focusMode,    focusValue,     hdrValue,      defogMode,      frameMode,     resolution,
            fps,          bitrate,        pictureResolution};
}

bool CameraRow::fromValues(const QVariantList &values, CameraRow &row)
{
    if (values.size() != CameraDatabase::columns().size())
        return false;
    CameraRow result;
    result.pid = values[0].toString();
    int *const numbers[] = {&result.isnv12,        &result.decodeWay,       &result.exposureMode,
                            &result.exposureGain,  &result.exposureCompensation, &result.exposureTime,
                            &result.zoom,          &result.whiteBalanceMode, &result.whiteBalanceR,
                            &result.whiteBalanceG, &result.whiteBalanceB,   &result.hueValue,
                            &result.saturationValue, &result.contrastValue, &result.sharpnessValue,
                            &result.flip,          &result.mirror,          &result.focusMode,
                            &result.focusValue,    &result.hdrValue,        &result.defogMode,
                            &result.frameMode};
    int column = 1;
    for (int *number : numbers) {
        if (!toInt(values[column++], *number))
            return false;
    }
    result.resolution = values[column++].toString();
    if (!toInt(values[column++], result.fps) || !toInt(values[column++], result.bitrate))
        return false;
    result.pictureResolution = values[column].toString();
    row = result;
    return true;
}

bool CameraRow::set(const QString &column, const QVariant &value)
{
    const int index = CameraDatabase::columns().indexOf(column);
    if (index < 0)
        return false;
    QVariantList list = values();
    list[index] = value;
    return fromValues(list, *this);
}

CameraDatabase &CameraDatabase::instance()
{
    static CameraDatabase database;
    return database;
}

CameraDatabase::CameraDatabase()
    : retry_(std::make_unique<RetrySchedule>(QStringLiteral("Kept camera settings"), kLockBurstMs, kRetryMaxMs,
                                             [this] { return retryKept(); }))
{
    database_ = QSqlDatabase::contains(QSqlDatabase::defaultConnection)
                    ? QSqlDatabase::database(QSqlDatabase::defaultConnection, false)
                    : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
}

CameraDatabase::~CameraDatabase() = default;

QString CameraDatabase::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/setting.db");
}

QString CameraDatabase::lookupKey(const QString &uniqueName)
{
    if (uniqueName.contains(QLatin1String("IPC")))
        return uniqueName;
    // The last 7 characters of a USB path change from one plug-in to the next.
    QString key = uniqueName.left(qMax(0, uniqueName.size() - 7));
    const int usb = uniqueName.indexOf(QLatin1String("usb"));
    if (usb >= 0)
        key = key.mid(usb);
    return key;
}

const QStringList &CameraDatabase::columns()
{
    static const QStringList list = {
        "pid",           "isnv12",         "decodeWay",     "exposureMode",   "exposureGain",  "exposureCompensation",
        "exposureTime",  "Zoom",           "whiteBalanceMode", "whiteBalanceR", "whiteBalanceG", "whiteBalanceB",
        "hueValue",      "saturationValue", "contrastValue", "sharpnessValue", "flip",          "mirror",
        "focusMode",     "focusValue",     "HDRValue",      "defogMode",      "frameMode",     "resolution",
        "fps",           "bitrate",        "pictureResolution"};
    return list;
}

const QString &CameraDatabase::createTableSql()
{
    static const QString text = QString::fromLatin1(kCreateTable);
    return text;
}

QString CameraDatabase::causeOf(const QSqlError &error)
{
    // The driver's text only names its own step ("Unable to fetch row").
    const QString sqlite = error.databaseText().trimmed();
    return sqlite.isEmpty() ? error.driverText().trimmed() : sqlite;
}

void CameraDatabase::setDatabaseName(const QString &path)
{
    QMutexLocker lock(&mutex_);
    if (database_.isOpen())
        database_.close();
    // What was kept belongs to the file it did not reach.
    if (path != database_.databaseName())
        unsaved_.clear();
    database_.setDatabaseName(path);
}

QString CameraDatabase::databaseName() const
{
    QMutexLocker lock(&mutex_);
    return database_.databaseName();
}

bool CameraDatabase::open()
{
    QMutexLocker lock(&mutex_);
    if (database_.isOpen())
        return true;
    database_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    if (!database_.open()) {
        qWarning() << "Open database failed:" << database_.databaseName() << causeOf(database_.lastError());
        return false;
    }
    return true;
}

void CameraDatabase::close()
{
    QMutexLocker lock(&mutex_);
    if (database_.isOpen())
        database_.close();
}

bool CameraDatabase::isOpen() const
{
    QMutexLocker lock(&mutex_);
    return database_.isOpen();
}

void CameraDatabase::testOpen(const QString &path)
{
    QMutexLocker lock(&mutex_);
    setDatabaseName(path);
    open();
    close();
}

namespace {

// SQLite's primary result code of a failed statement (the low byte of an
// extended one).
int primaryCode(const QSqlError &error)
{
    return error.nativeErrorCode().toInt() & 0xff;
}

// SQLite's own verdict on the file's content (SQLITE_CORRUPT 11 and
// SQLITE_NOTADB 26); other failures (busy or locked by another program, no
// permission, input/output) say nothing about the file itself.
bool isDamage(const QSqlError &error)
{
    const int code = primaryCode(error);
    return code == 11 || code == 26;
}

// Another connection's lock on the file (SQLITE_BUSY 5, SQLITE_LOCKED 6).
bool isLockedOut(const QSqlError &error)
{
    const int code = primaryCode(error);
    return code == 5 || code == 6;
}

} // namespace

CameraDatabase::OpenResult CameraDatabase::openLocked(const QString &path, QString &reason)
{
    const QFileInfo info(path);
    if (!info.exists())
        QDir().mkpath(info.absolutePath());
    setDatabaseName(path);
    if (!open()) {
        reason = causeOf(database_.lastError());
        return OpenResult::Failed;
    }
    // Opening reads nothing of the file: the first statement finds out
    // whether it is SQLite at all.
    QSqlQuery query(database_);
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND name='camera'"))) {
        reason = causeOf(query.lastError());
        return isDamage(query.lastError()) ? OpenResult::Damaged : OpenResult::Failed;
    }
    const bool exists = query.next();
    query.finish();
    if (!exists) {
        const Result created = exec(createTableSql());
        if (!created.ok) {
            reason = causeOf(created.error);
            return isDamage(created.error) ? OpenResult::Damaged : OpenResult::Failed;
        }
        return OpenResult::Opened;
    }
    // A file cut short or damaged inside still has a readable schema page;
    // only reading every page finds it. The file is a few pages long.
    if (!query.exec(QStringLiteral("PRAGMA quick_check"))) {
        reason = causeOf(query.lastError());
        return isDamage(query.lastError()) ? OpenResult::Damaged : OpenResult::Failed;
    }
    if (!query.next() || query.value(0).toString() != QLatin1String("ok")) {
        reason = query.value(0).toString();
        return OpenResult::Damaged;
    }
    query.finish();
    // Every column the cameras read and write must be there.
    // A column that is not there fails the statement with SQLITE_ERROR (1);
    // another program holding the file at this moment gives SQLITE_BUSY.
    if (!query.exec(QStringLiteral("SELECT %1 FROM camera LIMIT 0").arg(columns().join(QLatin1Char(','))))) {
        reason = causeOf(query.lastError());
        if (isDamage(query.lastError()))
            return OpenResult::Damaged;
        return primaryCode(query.lastError()) == 1 ? OpenResult::OtherTable : OpenResult::Failed;
    }
    return OpenResult::Opened;
}

CameraDatabase::OpenResult CameraDatabase::openOrCreate(const QString &path, QString *reason)
{
    QMutexLocker lock(&mutex_);
    QString why;
    const OpenResult result = openLocked(path, why);
    if (result != OpenResult::Opened) {
        qWarning().noquote() << "Database" << path << "not used:" << why;
        close();
    }
    if (reason)
        *reason = why;
    return result;
}

CameraDatabase::Result CameraDatabase::exec(const QString &sql, const QVariantList &bound)
{
    QMutexLocker lock(&mutex_);
    // The query is made on this connection from the start: a query without
    // one would look up the default connection, which belongs to the thread
    // that opened it (the cameras read and write from the control thread;
    // the mutex keeps the uses apart).
    Result result{QSqlQuery(database_), QSqlError(), false};
    if (!database_.isOpen())
        return result;
    database_.transaction();
    bool prepared = result.query.prepare(sql);
    if (prepared) {
        for (const QVariant &value : bound)
            result.query.addBindValue(value);
        result.ok = result.query.exec();
    }
    result.error = result.query.lastError();
    if (result.ok && !database_.commit()) {
        result.ok = false;
        result.error = database_.lastError();
    }
    if (!result.ok)
        database_.rollback();
    return result;
}

bool CameraDatabase::findRow(const QString &key, CameraRow &row)
{
    return lookupRow(key, row) == Lookup::Found;
}

CameraDatabase::Lookup CameraDatabase::lookupRow(const QString &key, CameraRow &row, QString *cause)
{
    if (key.isEmpty())
        return Lookup::Failed;
    QMutexLocker lock(&mutex_);
    const auto failed = [cause](Lookup lookup, const QString &why) {
        if (cause)
            *cause = why;
        return lookup;
    };
    // The user's changes that have not reached the file yet go first; a
    // camera opened again uses them, stored or not.
    if (unsaved_.contains(key) && storeKept(key).ok) {
        unsaved_.remove(key);
        if (unsaved_.isEmpty())
            noteAllStored();
    }
    const QString sql = QStringLiteral("SELECT %1 FROM camera WHERE pid = ? ORDER BY id LIMIT 1").arg(columns().join(','));
    Result result = exec(sql, {key});
    if (!result.ok) {
        if (database_.isOpen())
            qWarning() << "Read camera row failed:" << causeOf(result.error);
        return failed(Lookup::Failed, causeOf(result.error));
    }
    if (!result.query.next()) {
        const QSqlError error = result.query.lastError();
        return error.isValid() ? failed(Lookup::Failed, causeOf(error)) : Lookup::Missing;
    }
    QVariantList values;
    for (int i = 0; i < columns().size(); ++i)
        values << result.query.value(i);
    if (!CameraRow::fromValues(values, row)) {
        qWarning() << "Camera row of" << key << "holds values that are not numbers";
        return failed(Lookup::Damaged,
                      QCoreApplication::translate("CameraDatabase", "it holds values that are not numbers"));
    }
    return Lookup::Found;
}

QVariantMap CameraDatabase::keptChanges(const QString &key) const
{
    QMutexLocker lock(&mutex_);
    return unsaved_.value(key);
}

CameraDatabase::Result CameraDatabase::insert(const QString &key, const CameraRow &row, bool logFailure)
{
    CameraRow keyed = row;
    keyed.pid = key;
    QStringList marks;
    for (int i = 0; i < columns().size(); ++i)
        marks << QStringLiteral("?");
    const QString sql =
        QStringLiteral("INSERT INTO camera (%1) VALUES (%2)").arg(columns().join(','), marks.join(','));
    const Result result = exec(sql, keyed.values());
    if (!result.ok && logFailure && database_.isOpen())
        qWarning() << "Insert camera row failed for" << key << ":" << causeOf(result.error);
    return result;
}

bool CameraDatabase::insertRow(const QString &key, const CameraRow &row, QString *error)
{
    if (key.isEmpty())
        return false;
    QMutexLocker lock(&mutex_);
    const Result result = insert(key, row);
    if (!result.ok && error)
        *error = causeOf(result.error);
    return result.ok;
}

CameraDatabase::Result CameraDatabase::findId(const QString &key, QVariant &id)
{
    Result found = exec(QStringLiteral("SELECT id FROM camera WHERE pid = ? ORDER BY id LIMIT 1"), {key});
    id = QVariant();
    if (found.ok && found.query.next()) {
        id = found.query.value(0);
    } else if (found.ok && found.query.lastError().isValid()) {
        found.ok = false;
        found.error = found.query.lastError();
    }
    found.query.finish();
    return found;
}

// A change that did not reach the file (a full disk, a read-only file,
// another program's lock) is told to the user like the other settings
// files' failures; one that did ends the cause. A database that is not open
// is not used in this run, which the user was told at start.
void CameraDatabase::noteChange(const Result &changed)
{
    if (!changed.ok && isLockedOut(changed.error))
        lockMet_.start();
    else
        lockMet_.invalidate();
    if (!database_.isOpen())
        return;
    QString cause;
    if (!changed.ok) {
        cause = causeOf(changed.error);
        if (cause.isEmpty())
            cause = QCoreApplication::translate("CameraDatabase", "the file could not be written");
    }
    // A change that went through ends the cause only when nothing else is
    // still kept (another camera's changes).
    if (!changed.ok || unsaved_.isEmpty())
        SettingsStore::instance().noteWriteOf(databaseName(), cause);
    if (!changed.ok && !unsaved_.isEmpty())
        retry_->restart();
}

void CameraDatabase::noteAllStored()
{
    SettingsStore::instance().noteWriteOf(databaseName(), QString());
}

// How long the statements of one change wait for another program's lock:
// not at all while the changes before it keep meeting it (kLockBurstMs),
// the full time otherwise. Reads when a camera is brought up always wait.
class CameraDatabase::ChangeWait
{
public:
    explicit ChangeWait(CameraDatabase &database)
        : ChangeWait(database,
                     database.lockMet_.isValid() && !database.lockMet_.hasExpired(kLockBurstMs) ? 0 : kBusyTimeoutMs)
    {
    }
    ChangeWait(CameraDatabase &database, int milliseconds) : database_(database.database_), milliseconds_(milliseconds)
    {
        if (milliseconds_ != kBusyTimeoutMs)
            setBusyTimeout(milliseconds_);
    }
    ~ChangeWait()
    {
        if (milliseconds_ != kBusyTimeoutMs)
            setBusyTimeout(kBusyTimeoutMs);
    }
    ChangeWait(const ChangeWait &) = delete;
    ChangeWait &operator=(const ChangeWait &) = delete;

private:
    void setBusyTimeout(int milliseconds)
    {
        // A setting of the connection: it takes no lock on the file.
        if (database_.isOpen())
            QSqlQuery(database_).exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(milliseconds));
    }

    QSqlDatabase &database_;
    const int milliseconds_;
};

bool CameraDatabase::replaceRow(const QString &key, const CameraRow &row)
{
    if (key.isEmpty())
        return false;
    QMutexLocker lock(&mutex_);
    const ChangeWait wait(*this);
    CameraRow keyed = row;
    keyed.pid = key;
    const auto done = [&](const Result &changed) {
        if (changed.ok) {
            unsaved_.remove(key);
        } else if (database_.isOpen()) {
            QVariantMap whole;
            const QVariantList values = keyed.values();
            for (int i = 1; i < columns().size(); ++i)  // pid aside
                whole.insert(columns()[i], values[i]);
            unsaved_.insert(key, whole);
        }
        noteChange(changed);
        return changed.ok;
    };
    QVariant id;
    const Result found = findId(key, id);
    if (!found.ok) {
        if (database_.isOpen())
            qWarning() << "Replace camera row failed for" << key << ":" << causeOf(found.error);
        return done(found);
    }
    if (!id.isValid())
        return done(insert(key, row));
    QStringList assignments;
    for (const QString &column : columns())
        assignments << column + QStringLiteral(" = ?");
    QVariantList bound = keyed.values();
    bound << id;
    const Result updated =
        exec(QStringLiteral("UPDATE camera SET %1 WHERE id = ?").arg(assignments.join(QLatin1Char(','))), bound);
    if (!updated.ok)
        qWarning() << "Replace camera row failed for" << key << ":" << causeOf(updated.error);
    return done(updated);
}

bool CameraDatabase::saveCameraProperty(const QString &uniqueName, const QString &column, const QVariant &value)
{
    const QString key = lookupKey(uniqueName);
    if (key.isEmpty()) {
        qWarning() << "saveCameraProperty error. Empty key for camera" << uniqueName;
        return false;
    }
    if (column == QLatin1String("pid") || !columns().contains(column)) {
        qWarning() << "saveCameraProperty error. Unknown column" << column;
        return false;
    }
    QVariant stored = value;
    if (column != QLatin1String("resolution") && column != QLatin1String("pictureResolution")) {
        int number = 0;
        if (!toInt(value, number)) {
            qWarning() << "saveCameraProperty error. Not a whole number for" << column << ":" << value;
            return false;
        }
        stored = number;
    }
    // Lookup and update as one unit, so that no other writer slips between.
    QMutexLocker lock(&mutex_);
    const ChangeWait wait(*this);
    // The camera's changes that did not reach the file go with this one.
    QVariantMap changes = unsaved_.take(key);
    changes.insert(column, stored);
    QVariant id;
    const Result found = findId(key, id);
    if (!found.ok) {
        if (database_.isOpen()) {
            qWarning() << "saveCameraProperty error. Reading the row of" << key << "failed:" << causeOf(found.error);
            unsaved_.insert(key, changes);
        }
        noteChange(found);
        return false;
    }
    if (!id.isValid()) {
        qDebug().noquote() << "saveCameraProperty error. Can not find the entry for cur camera " + key;
        return false;
    }
    const Result updated = updateColumns(id, changes);
    if (!updated.ok) {
        qWarning() << "saveCameraProperty error. Update of" << changes.keys() << "failed:" << causeOf(updated.error);
        unsaved_.insert(key, changes);
    }
    noteChange(updated);
    return updated.ok;
}

CameraDatabase::Result CameraDatabase::storeKept(const QString &key)
{
    const QVariantMap changes = unsaved_.value(key);
    QVariant id;
    const Result found = findId(key, id);
    if (!found.ok)
        return found;
    if (!id.isValid()) {
        // Only a whole row, kept by replaceRow, makes one.
        CameraRow row;
        if (changes.size() == columns().size() - 1) {
            for (auto change = changes.cbegin(); change != changes.cend(); ++change)
                row.set(change.key(), change.value());
            return insert(key, row, false);
        }
        qDebug().noquote() << "saveCameraProperty error. Can not find the entry for cur camera " + key;
        Result none = found;
        none.ok = false;
        return none;
    }
    return updateColumns(id, changes);
}

CameraDatabase::Result CameraDatabase::updateColumns(const QVariant &id, const QVariantMap &changes)
{
    // The columns are names of the fixed list above, never caller text.
    QStringList assignments;
    QVariantList bound;
    for (auto change = changes.cbegin(); change != changes.cend(); ++change) {
        assignments << change.key() + QStringLiteral(" = ?");
        bound << change.value();
    }
    bound << id;
    return exec(QStringLiteral("UPDATE camera SET %1 WHERE id = ?").arg(assignments.join(QLatin1Char(','))), bound);
}

bool CameraDatabase::retryKept()
{
    QMutexLocker lock(&mutex_);
    if (unsaved_.isEmpty() || !database_.isOpen())
        return true;
    const ChangeWait wait(*this, 0);
    bool failed = false;
    for (const QString &key : unsaved_.keys()) {
        const Result stored = storeKept(key);
        if (stored.ok) {
            qDebug() << "Kept camera settings of" << key << "stored:" << unsaved_.take(key).keys();
        } else if (stored.error.isValid()) {
            failed = true;
        } else {
            unsaved_.remove(key);  // the camera's row is gone
        }
    }
    if (!failed)
        noteAllStored();
    return !failed;
}

void CameraDatabase::storeKeptAtExit()
{
    QMutexLocker lock(&mutex_);
    bool lockMet = false;
    for (const QString &key : unsaved_.keys()) {
        // One wait for another program's lock, not one per camera.
        QString cause = QStringLiteral("the file is not open");
        if (database_.isOpen()) {
            const ChangeWait wait(*this, lockMet ? 0 : kExitBusyTimeoutMs);
            const Result stored = storeKept(key);
            if (stored.ok)
                continue;
            lockMet = lockMet || isLockedOut(stored.error);
            cause = stored.error.isValid() ? causeOf(stored.error) : QStringLiteral("the camera has no row");
        }
        qWarning().noquote() << QStringLiteral("Camera settings lost: %1 of camera %2 could not be stored in %3 (%4)")
                                    .arg(unsaved_.value(key).keys().join(QStringLiteral(", ")), key,
                                         databaseName(), cause);
    }
    unsaved_.clear();
}
