// CrawlFile: one saved crawl in an SQLite file, its named errors and records.

#include "crawlfile.h"

#include "ioerror.h"
#include "stagedfile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sqlite3.h>
#include <zstd.h>

namespace {

// "NQCR" in the header's application id: what tells our files from other
// programs' SQLite databases.
constexpr int kApplicationId = 0x4E514352;
// The fastest level: HTML still shrinks to about a fifth. Matches of at
// least 7 bytes cost a fifth fewer instructions on pages of a few KiB, at
// 2 % of the size, and compressing is most of what saving a crawl costs.
constexpr int kCompressionLevel = 1;
constexpr int kMinMatch = 7;

const char* const kSchema = R"sql(
CREATE TABLE settings(name TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE found(
    seq INTEGER PRIMARY KEY,
    kind INTEGER NOT NULL,
    from_address TEXT NOT NULL,
    links BLOB NOT NULL);
CREATE INDEX found_from ON found(from_address);
CREATE TABLE pages(
    id INTEGER PRIMARY KEY,
    address TEXT NOT NULL UNIQUE,
    final_address TEXT NOT NULL,
    level INTEGER NOT NULL,
    status INTEGER NOT NULL,
    failure_kind INTEGER NOT NULL,
    failure_detail TEXT NOT NULL,
    content_type TEXT NOT NULL,
    etag TEXT NOT NULL,
    last_modified TEXT NOT NULL,
    fetched_at INTEGER NOT NULL,
    gone INTEGER NOT NULL,
    body_size INTEGER,
    body BLOB);
)sql";

String columnText(sqlite3_stmt* statement, int column)
{
    const auto* text = sqlite3_column_text(statement, column);
    return text ? String(reinterpret_cast<const char*>(text),
                         static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
                : String();
}

void bindText(sqlite3_stmt* statement, int index, const String& text)
{
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

StoreError::Kind kindOf(int code, int systemErrno)
{
    switch (code & 0xff) {
    case SQLITE_FULL:
        return StoreError::DiskFull;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return StoreError::Locked;
    case SQLITE_READONLY:
    case SQLITE_PERM:
        return StoreError::ReadOnly;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return StoreError::Damaged;
    case SQLITE_IOERR:
        // A size limit or quota is a full disk to the user.
        if (systemErrno == ENOSPC || systemErrno == EFBIG || systemErrno == EDQUOT)
            return StoreError::DiskFull;
        break;
    default:
        break;
    }
    return StoreError::Io;
}

// The failure kept in two columns from column on; the status is the reply's.
TransferError failureOf(sqlite3_stmt* statement, int column, Integer status)
{
    TransferError failure;
    const int kind = sqlite3_column_int(statement, column);
    if (kind > 0 && kind <= static_cast<int>(TransferError::Kind::Internal))
        failure.kind = static_cast<TransferError::Kind>(kind);
    else if (kind != 0)
        failure.kind = TransferError::Kind::Internal;
    failure.status = failure.kind == TransferError::Kind::HttpStatus ? status : 0;
    failure.detail = columnText(statement, column + 1);
    return failure;
}

bool looksLikeSqlite(const QString& path, qint64* size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *size = file.size();
    static const char kMagic[] = "SQLite format 3";
    return file.read(sizeof kMagic) == QByteArray(kMagic, sizeof kMagic);
}

} // namespace

String StoreError::Message() const
{
    String what;
    switch (kind) {
    case None:
        return String();
    case Exists:
        what = "the file exists (use --resume or --update to add to it)";
        break;
    case NotFound:
        what = "no such file";
        break;
    case IsFolder:
        what = "is a folder, not a crawl file";
        break;
    case NotOurs:
        what = "not a Netquarry crawl file";
        break;
    case Damaged:
        what = "the crawl file is damaged";
        break;
    case NewerVersion:
        what = "the crawl file was written by a newer version of Netquarry";
        break;
    case Locked:
        what = "another process is writing this crawl file";
        break;
    case ReadOnly:
        what = "the crawl file cannot be written";
        break;
    case DiskFull:
        what = "the disk is full";
        break;
    case Io:
        what = "cannot read or write the crawl file";
        break;
    }
    return Path + ": " + what + (Detail.empty() ? String() : " (" + Detail + ")");
}

void CrawlFile::StatementDeleter::operator()(sqlite3_stmt* statement) const noexcept
{
    sqlite3_finalize(statement);
}

void CrawlFile::DatabaseDeleter::operator()(sqlite3* db) const noexcept
{
    sqlite3_close_v2(db);
}

void CrawlFile::CompressorDeleter::operator()(ZSTD_CCtx_s* context) const noexcept
{
    ZSTD_freeCCtx(context);
}

void CrawlFile::DecompressorDeleter::operator()(ZSTD_DCtx_s* context) const noexcept
{
    ZSTD_freeDCtx(context);
}

CrawlFile::CrawlFile(sqlite3* db, String path) : m_db(db), m_path(std::move(path)) {}

CrawlFile::~CrawlFile()
{
    // Statements go before the connection they belong to.
    m_addFound.reset();
    m_putPage.reset();
    m_getPage.reset();
    m_setValue.reset();
    m_getValue.reset();
}

std::unique_ptr<CrawlFile> CrawlFile::Open(const String& path, Mode mode, StoreError* error)
{
    *error = StoreError{};
    error->Path = path;
    const QString name = QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
    const QFileInfo info(name);
    if (info.isDir()) {
        error->kind = StoreError::IsFolder;
        return nullptr;
    }
    if (mode == Mode::Create && info.exists()) {
        error->kind = StoreError::Exists;
        return nullptr;
    }
    if (mode != Mode::Create) {
        qint64 size = 0;
        if (!info.exists()) {
            error->kind = StoreError::NotFound;
            return nullptr;
        }
        if (!looksLikeSqlite(name, &size)) {
            error->kind = size == 0 || info.isReadable() ? StoreError::NotOurs : StoreError::Io;
            return nullptr;
        }
        // A file with no write permission at all stays untouched even for root.
        const auto writeBits = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
        if (mode == Mode::Continue && (!info.isWritable() || !(info.permissions() & writeBits))) {
            error->kind = StoreError::ReadOnly;
            return nullptr;
        }
    }

    // A reader opens for writing too when it may, since SQLite reads a WAL
    // file left by a killed writer only so; it writes nothing of its own.
    const int flags =
        mode == Mode::Create ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READWRITE;
    sqlite3* raw = nullptr;
    int opened = sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (opened != SQLITE_OK && mode == Mode::Read) {
        sqlite3_close_v2(raw);
        raw = nullptr;
        opened = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
    }
    std::unique_ptr<CrawlFile> file(new CrawlFile(raw, path));
    if (opened != SQLITE_OK) {
        file->fail(opened);
        *error = file->m_error;
        return nullptr;
    }
    sqlite3_extended_result_codes(raw, 1);
    // The lock is the file's own and held to the end: a second writer is
    // refused at once, and no shared-memory file is needed beside it.
    const bool ready = file->exec("PRAGMA locking_mode=EXCLUSIVE") &&
                       (mode != Mode::Read || file->exec("PRAGMA query_only=1")) &&
                       (mode == Mode::Create ? file->createSchema() : file->checkSchema(mode));
    if (!ready) {
        *error = file->m_error;
        error->Path = path;
        // A file we made and could not finish is no crawl.
        if (mode == Mode::Create) {
            file.reset();
            QFile::remove(name);
            QFile::remove(name + "-wal");
        }
        return nullptr;
    }
    return file;
}

bool CrawlFile::createSchema()
{
    // Made without a sync: a new file holds nothing to lose, and the syncs
    // would hold up the crawl's start. From then on WAL with NORMAL syncing:
    // a killed process loses nothing committed, and after a power loss the
    // file holds the commits that reached the disk in order.
    const String version = "PRAGMA user_version=" + std::to_string(kSchemaVersion);
    const String id = "PRAGMA application_id=" + std::to_string(kApplicationId);
    return exec("PRAGMA synchronous=OFF") && exec("PRAGMA journal_mode=WAL") && Begin() &&
           exec(kSchema) && exec(version.c_str()) && exec(id.c_str()) && Commit() &&
           exec("PRAGMA synchronous=NORMAL");
}

bool CrawlFile::checkSchema(Mode mode)
{
    Statement query;
    // The first read takes the lock and meets a damaged header.
    sqlite3_stmt* statement = prepare(query, "PRAGMA application_id");
    if (!statement || !step(statement)) {
        if (!m_error)
            m_error.kind = StoreError::NotOurs;
        if (m_error.kind == StoreError::Io)
            m_error.kind = StoreError::Damaged;
        return false;
    }
    const int id = sqlite3_column_int(statement, 0);
    query.reset();
    statement = prepare(query, "PRAGMA user_version");
    if (!statement || !step(statement))
        return false;
    const int version = sqlite3_column_int(statement, 0);
    query.reset();
    if (id != kApplicationId || version <= 0) {
        m_error.kind = StoreError::NotOurs;
        return false;
    }
    if (version > kSchemaVersion) {
        m_error.kind = StoreError::NewerVersion;
        m_error.Detail =
            "file version " + std::to_string(version) + ", ours " + std::to_string(kSchemaVersion);
        return false;
    }
    statement = prepare(query, "PRAGMA quick_check(1)");
    if (!statement || !step(statement)) {
        if (m_error.kind == StoreError::Io)
            m_error.kind = StoreError::Damaged;
        return false;
    }
    const String verdict = columnText(statement, 0);
    query.reset();
    if (verdict != "ok") {
        m_error.kind = StoreError::Damaged;
        m_error.Detail = verdict;
        return false;
    }
    if (mode == Mode::Continue)
        return exec("PRAGMA synchronous=NORMAL") && Begin() && Commit();
    return true;
}

bool CrawlFile::fail(int code)
{
    if (!m_error) {
        m_error.Path = m_path;
        m_error.kind = kindOf(code, m_db ? sqlite3_system_errno(m_db.get()) : 0);
        m_error.Detail = m_db ? sqlite3_errmsg(m_db.get()) : sqlite3_errstr(code);
    }
    return false;
}

bool CrawlFile::exec(const char* sql)
{
    if (m_error)
        return false;
    const int code = sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr);
    return code == SQLITE_OK || fail(code);
}

sqlite3_stmt* CrawlFile::prepare(Statement& slot, const char* sql)
{
    if (m_error)
        return nullptr;
    if (!slot) {
        sqlite3_stmt* statement = nullptr;
        const int code =
            sqlite3_prepare_v3(m_db.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
        if (code != SQLITE_OK) {
            sqlite3_finalize(statement);
            fail(code);
            return nullptr;
        }
        slot.reset(statement);
    }
    sqlite3_reset(slot.get());
    sqlite3_clear_bindings(slot.get());
    return slot.get();
}

bool CrawlFile::step(sqlite3_stmt* statement)
{
    const int code = sqlite3_step(statement);
    if (code == SQLITE_ROW)
        return true;
    if (code != SQLITE_DONE)
        fail(code);
    return false;
}

bool CrawlFile::Begin()
{
    return exec("BEGIN IMMEDIATE");
}

bool CrawlFile::Commit()
{
    return exec("COMMIT");
}

bool CrawlFile::SetValue(const String& name, const String& value)
{
    sqlite3_stmt* statement = prepare(m_setValue, "INSERT OR REPLACE INTO settings VALUES(?, ?)");
    if (!statement)
        return false;
    bindText(statement, 1, name);
    bindText(statement, 2, value);
    step(statement);
    return !m_error;
}

bool CrawlFile::ClearFound()
{
    return exec("DELETE FROM found");
}

bool CrawlFile::MarkGone(const String& address)
{
    Statement query;
    sqlite3_stmt* statement = prepare(query, "UPDATE pages SET gone = 1 WHERE address = ?");
    if (!statement)
        return false;
    bindText(statement, 1, address);
    step(statement);
    return !m_error;
}

std::optional<String> CrawlFile::Value(const String& name)
{
    sqlite3_stmt* statement = prepare(m_getValue, "SELECT value FROM settings WHERE name = ?");
    if (!statement)
        return std::nullopt;
    bindText(statement, 1, name);
    if (!step(statement))
        return std::nullopt;
    return columnText(statement, 0);
}

bool CrawlFile::PutSettings(const CrawlSettings& settings)
{
    return SetValue("address", settings.Address) &&
           SetValue("depth", std::to_string(settings.Depth)) &&
           SetValue("keywords", settings.Keywords) &&
           SetValue("case", settings.CaseSensitive ? "1" : "0") &&
           SetValue("span-hosts", settings.SpanHosts ? "1" : "0") &&
           SetValue("saved-at", std::to_string(settings.SavedAt));
}

CrawlSettings CrawlFile::Settings()
{
    CrawlSettings settings;
    const auto number = [this](const char* name, std::int64_t fallback) -> std::int64_t {
        const auto text = Value(name);
        try {
            return text ? std::stoll(*text) : fallback;
        } catch (...) {
            return fallback;
        }
    };
    settings.Address = Value("address").value_or(String());
    settings.Depth = static_cast<Integer>(number("depth", 3));
    settings.Keywords = Value("keywords").value_or(String());
    settings.CaseSensitive = number("case", 0) != 0;
    settings.SpanHosts = number("span-hosts", 0) != 0;
    settings.SavedAt = number("saved-at", 0);
    return settings;
}

// The links of one page as one compressed blob: type, host and address of
// each, every field ended by a NUL, which no address holds.
bool CrawlFile::AddFound(const std::vector<FoundLink>& found)
{
    if (found.empty())
        return true;
    sqlite3_stmt* statement =
        prepare(m_addFound, "INSERT INTO found(kind, from_address, links) VALUES(?, ?, ?)");
    if (!statement)
        return false;
    const FoundLink& first = found.front();
    const bool moved = first.kind == FoundLink::StartMoved;
    String fields;
    if (!moved) {
        for (const FoundLink& link : found) {
            for (const String* field : {&link.Type, &link.Host, &link.Address}) {
                fields += *field;
                fields += '\0';
            }
        }
    }
    if (!pack(fields))
        return false;
    sqlite3_bind_int(statement, 1, first.kind);
    bindText(statement, 2, moved ? first.Address : first.From);
    sqlite3_bind_blob64(statement, 3, m_packed.data(), m_packedSize, SQLITE_STATIC);
    step(statement);
    return !m_error;
}

void CrawlFile::ForEachFound(const std::function<void(const FoundLink&)>& visit)
{
    Statement query;
    sqlite3_stmt* statement =
        prepare(query, "SELECT kind, from_address, links FROM found ORDER BY seq");
    if (!statement)
        return;
    FoundLink found;
    String fields;
    while (step(statement)) {
        if (sqlite3_column_int(statement, 0) == FoundLink::StartMoved) {
            found = FoundLink{FoundLink::StartMoved, columnText(statement, 1), "", "", ""};
            visit(found);
            continue;
        }
        found.kind = FoundLink::Link;
        found.From = columnText(statement, 1);
        if (!unpack(statement, 2, &fields))
            return;
        std::size_t at = 0;
        const auto next = [&fields, &at](String* field) {
            const std::size_t end = fields.find('\0', at);
            if (end == String::npos)
                return false;
            field->assign(fields, at, end - at);
            at = end + 1;
            return true;
        };
        while (next(&found.Type) && next(&found.Host) && next(&found.Address))
            visit(found);
    }
}

bool CrawlFile::pack(const String& bytes)
{
    if (!m_compressor) {
        m_compressor.reset(ZSTD_createCCtx());
        if (!m_compressor) {
            m_error = {StoreError::Io, m_path, "out of memory"};
            return false;
        }
        // The parameters stay with the context for every later frame.
        ZSTD_CCtx_setParameter(m_compressor.get(), ZSTD_c_compressionLevel, kCompressionLevel);
        ZSTD_CCtx_setParameter(m_compressor.get(), ZSTD_c_minMatch, kMinMatch);
    }
    m_packed.resize(ZSTD_compressBound(bytes.size()));
    m_packedSize = ZSTD_compress2(m_compressor.get(), m_packed.data(), m_packed.size(),
                                  bytes.data(), bytes.size());
    if (ZSTD_isError(m_packedSize)) {
        m_error = {StoreError::Io, m_path, ZSTD_getErrorName(m_packedSize)};
        return false;
    }
    return true;
}

bool CrawlFile::unpack(sqlite3_stmt* statement, int column, String* bytes)
{
    const void* packed = sqlite3_column_blob(statement, column);
    const auto packedSize = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
    const unsigned long long size = ZSTD_getFrameContentSize(packed, packedSize);
    if (size == ZSTD_CONTENTSIZE_ERROR || size == ZSTD_CONTENTSIZE_UNKNOWN || size > kMaxBody) {
        m_error = {StoreError::Damaged, m_path, "a compressed value is unreadable"};
        return false;
    }
    if (!m_decompressor)
        m_decompressor.reset(ZSTD_createDCtx());
    if (!m_decompressor) {
        m_error = {StoreError::Io, m_path, "out of memory"};
        return false;
    }
    bytes->resize(static_cast<std::size_t>(size));
    const std::size_t got =
        ZSTD_decompressDCtx(m_decompressor.get(), bytes->data(), bytes->size(), packed, packedSize);
    if (ZSTD_isError(got) || got != size) {
        m_error = {StoreError::Damaged, m_path, "a compressed value does not decompress"};
        return false;
    }
    return true;
}

bool CrawlFile::PutPage(const PageRecord& page)
{
    sqlite3_stmt* statement = prepare(
        m_putPage,
        "INSERT INTO pages(address, final_address, level, status, failure_kind, failure_detail, "
        "content_type, etag, last_modified, fetched_at, gone, body_size, body) VALUES(?, ?, ?, ?, "
        "?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT(address) DO UPDATE SET final_address = "
        "excluded.final_address, "
        "level = excluded.level, status = excluded.status, failure_kind = excluded.failure_kind, "
        "failure_detail = excluded.failure_detail, "
        "content_type = excluded.content_type, etag = excluded.etag, "
        "last_modified = excluded.last_modified, fetched_at = excluded.fetched_at, "
        "gone = excluded.gone, body_size = coalesce(excluded.body_size, body_size), "
        "body = coalesce(excluded.body, body)");
    if (!statement)
        return false;
    bindText(statement, 1, page.Address);
    bindText(statement, 2, page.FinalAddress);
    sqlite3_bind_int(statement, 3, page.Level);
    sqlite3_bind_int(statement, 4, page.Status);
    sqlite3_bind_int(statement, 5, static_cast<int>(page.Failure.kind));
    bindText(statement, 6, page.Failure.detail);
    bindText(statement, 7, page.ContentType);
    bindText(statement, 8, page.ETag);
    bindText(statement, 9, page.LastModified);
    sqlite3_bind_int64(statement, 10, page.FetchedAt);
    sqlite3_bind_int(statement, 11, page.Gone ? 1 : 0);
    if (page.HasBody && page.Body.size() <= kMaxBody) {
        if (!pack(page.Body))
            return false;
        sqlite3_bind_int64(statement, 12, static_cast<sqlite3_int64>(page.Body.size()));
        sqlite3_bind_blob64(statement, 13, m_packed.data(), m_packedSize, SQLITE_STATIC);
    }
    step(statement);
    return !m_error;
}

namespace {

// The page columns from final_address to gone, as both page queries select
// them, starting at column first.
void readPageColumns(sqlite3_stmt* statement, int first, PageRecord& page)
{
    page.FinalAddress = columnText(statement, first);
    page.Level = sqlite3_column_int(statement, first + 1);
    page.Status = sqlite3_column_int(statement, first + 2);
    page.Failure = failureOf(statement, first + 3, page.Status);
    page.ContentType = columnText(statement, first + 5);
    page.ETag = columnText(statement, first + 6);
    page.LastModified = columnText(statement, first + 7);
    page.FetchedAt = sqlite3_column_int64(statement, first + 8);
    page.Gone = sqlite3_column_int(statement, first + 9) != 0;
}

} // namespace

std::optional<PageRecord> CrawlFile::Page(const String& address)
{
    sqlite3_stmt* statement = prepare(
        m_getPage, "SELECT final_address, level, status, failure_kind, failure_detail, "
                   "content_type, etag, last_modified, fetched_at, gone, body_size, body FROM "
                   "pages WHERE address = ?");
    if (!statement)
        return std::nullopt;
    bindText(statement, 1, address);
    if (!step(statement))
        return std::nullopt;
    PageRecord page;
    page.Address = address;
    readPageColumns(statement, 0, page);
    if (sqlite3_column_type(statement, 11) != SQLITE_NULL) {
        if (!unpack(statement, 11, &page.Body))
            return std::nullopt;
        page.HasBody = true;
    }
    return page;
}

void CrawlFile::ForEachPage(const std::function<void(const PageRecord&)>& visit)
{
    Statement query;
    sqlite3_stmt* statement =
        prepare(query, "SELECT address, final_address, level, status, failure_kind, "
                       "failure_detail, content_type, etag, last_modified, fetched_at, gone, "
                       "body IS NOT NULL FROM pages ORDER BY id");
    if (!statement)
        return;
    PageRecord page;
    while (step(statement)) {
        page.Address = columnText(statement, 0);
        readPageColumns(statement, 1, page);
        page.HasBody = sqlite3_column_int(statement, 11) != 0;
        visit(page);
    }
}

StoreError CrawlFile::CopyTo(const String& path)
{
    StoreError error;
    error.Path = path;
    const QString name = QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
    const QFileInfo target(name);
    if (target.isDir()) {
        error.kind = StoreError::IsFolder;
        return error;
    }
    const QString own = QFileInfo(QString::fromUtf8(m_path.c_str())).canonicalFilePath();
    if (target.exists() && target.canonicalFilePath() == own)
        return error; // already there
    const auto failed = [&error](sqlite3* db, int code) {
        error.kind = kindOf(code, db ? sqlite3_system_errno(db) : 0);
        error.Detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
        return error;
    };
    if (target.exists()) {
        // A crawl file that a writer holds answers busy; anything else may go.
        sqlite3* probe = nullptr;
        sqlite3_open_v2(path.c_str(), &probe, SQLITE_OPEN_READWRITE, nullptr);
        const std::unique_ptr<sqlite3, DatabaseDeleter> probed(probe);
        const int code =
            sqlite3_exec(probe, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
        if ((code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED)
            return failed(probe, code);
    }

    // Copied beside the target and renamed over it, so that a failed copy
    // leaves the old file as it was.
    try {
        StagedFile staged(path);
        {
            sqlite3* raw = nullptr;
            int code =
                sqlite3_open_v2(staged.StagedPath().c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
            const std::unique_ptr<sqlite3, DatabaseDeleter> copy(raw);
            if (code != SQLITE_OK)
                return failed(raw, code);
            sqlite3_backup* backup = sqlite3_backup_init(raw, "main", m_db.get(), "main");
            if (!backup)
                return failed(raw, sqlite3_errcode(raw));
            sqlite3_backup_step(backup, -1);
            code = sqlite3_backup_finish(backup);
            if (code == SQLITE_OK)
                code = sqlite3_exec(raw, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
            if (code != SQLITE_OK)
                return failed(raw, code);
        } // closed: everything is in the main file and no -wal is left
        // A log left by an earlier file of that name would be read into this one.
        QFile::remove(name + QStringLiteral("-wal"));
        QFile::remove(name + QStringLiteral("-shm"));
        staged.Commit();
    } catch (const EInOutError& e) {
        const int code = e.ErrorCode;
        error.kind = code == ENOSPC || code == EDQUOT || code == EFBIG  ? StoreError::DiskFull
                     : code == EACCES || code == EPERM || code == EROFS ? StoreError::ReadOnly
                                                                        : StoreError::Io;
        error.Detail = std::strerror(code);
    }
    return error;
}
