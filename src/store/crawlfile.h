// CrawlFile: one saved crawl in an SQLite file, its named errors and records.

#pragma once

#include "nqtypes.h"
#include "transfererror.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
struct ZSTD_CCtx_s;
struct ZSTD_DCtx_s;

// What went wrong with a crawl file, by name, so that callers act on the
// kind and show the words.
struct StoreError
{
    enum Kind
    {
        None,
        Exists,       // a new file was asked for and one is there
        NotFound,     // an existing file was asked for and none is there
        IsFolder,     // the path names a folder
        NotOurs,      // not a crawl file: another program's database, or no database
        Damaged,      // a crawl file that cannot be read: truncated, overwritten
        NewerVersion, // written by a newer Netquarry
        Locked,       // another process is writing it
        ReadOnly,     // the file or its folder cannot be written
        DiskFull,     // the disk is full
        Io,           // any other failure to read or write
    };
    Kind kind = None;
    String Path;
    String Detail; // SQLite's or the system's own words, when they help

    explicit operator bool() const { return kind != None; }
    // "FILE: the crawl file is damaged (DETAIL)".
    String Message() const;
};

// The run's settings as saved with the crawl.
struct CrawlSettings
{
    String Address;
    Integer Depth = 3;
    String Keywords;
    bool CaseSensitive = false;
    bool SpanHosts = false;
    std::int64_t SavedAt = 0; // seconds since 1970, when the crawl began
};

// One event of the crawl in the order it came: a link reported by the
// crawler, or the start page's move to another address.
struct FoundLink
{
    enum Kind
    {
        Link,
        StartMoved,
    };
    Kind kind = Link;
    String Address; // the link as resolved, or the start's final address
    String Type;    // "htm", "img", ... for a link
    String Host;
    String From; // the page it was found on
};

// One address the crawl or the search fetched, with what came back.
struct PageRecord
{
    String Address;        // as linked: the key
    String FinalAddress;   // where redirects led; empty when they led nowhere else
    Integer Level = 0;     // link level, 1 for the start page; 0 when not known
    Integer Status = 0;    // the reply status; 0 when no reply came
    TransferError Failure; // none for a page received
    String ContentType;
    String ETag;
    String LastModified;
    std::int64_t FetchedAt = 0; // seconds since 1970
    String Body;
    bool HasBody = false; // false: failed, or too large to keep
    bool Gone = false;    // a later crawl found it no more
};

// A saved crawl: an SQLite database in WAL mode with the run's settings,
// the crawl's events in order and one row per fetched address with its body
// compressed. One connection, used by one thread at a time. A file that is
// not ours, damaged or newer is refused with a named error and never written.
class CrawlFile
{
public:
    enum class Mode
    {
        Create,   // a new file; an existing one is refused
        Continue, // an existing crawl file, to add to (resume, update)
        Read,     // an existing crawl file, never written
    };

    static constexpr int kSchemaVersion = 1;
    // Bodies above the transfers' own cap are not kept.
    static constexpr std::size_t kMaxBody = std::size_t{64} * 1024 * 1024;

    // Null with *error set when the file cannot be used as asked. A writer
    // holds the file's lock until it is destroyed: a second one is refused.
    static std::unique_ptr<CrawlFile> Open(const String& path, Mode mode, StoreError* error);
    ~CrawlFile();
    CrawlFile(const CrawlFile&) = delete;
    CrawlFile& operator=(const CrawlFile&) = delete;

    // Writes go into one transaction from Begin to Commit. Each returns
    // false once a write failed; Error() says why, and the file keeps what
    // the last Commit wrote.
    bool Begin();
    bool Commit();
    bool PutSettings(const CrawlSettings& settings);
    // Links found on one page, in order, kept as one row; or one start move.
    bool AddFound(const std::vector<FoundLink>& found);
    // Replaces what is stored for the address; a failure keeps a stored body.
    bool PutPage(const PageRecord& page);
    bool SetValue(const String& name, const String& value);

    // Reads; on a failure they return what they have and set Error().
    CrawlSettings Settings();
    std::optional<String> Value(const String& name);
    void ForEachFound(const std::function<void(const FoundLink&)>& visit);
    std::optional<PageRecord> Page(const String& address);
    // Every stored address with its level, status and validators; no body.
    void ForEachPage(const std::function<void(const PageRecord&)>& visit);

    const StoreError& Error() const { return m_error; }

    // Writes a copy of the whole crawl to path, replacing what is there
    // whole or not at all; a file another process is writing is left as it
    // is. This file's own error stays as it was.
    StoreError CopyTo(const String& path);

private:
    struct StatementDeleter
    {
        void operator()(sqlite3_stmt* statement) const noexcept;
    };
    using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;
    struct DatabaseDeleter
    {
        void operator()(sqlite3* db) const noexcept;
    };

    struct CompressorDeleter
    {
        void operator()(ZSTD_CCtx_s* context) const noexcept;
    };
    struct DecompressorDeleter
    {
        void operator()(ZSTD_DCtx_s* context) const noexcept;
    };

    CrawlFile(sqlite3* db, String path);
    bool exec(const char* sql);
    sqlite3_stmt* prepare(Statement& slot, const char* sql);
    bool fail(int code);
    bool step(sqlite3_stmt* statement); // true: a row; false: done or failed
    bool checkSchema(Mode mode);
    // Compresses into m_packed; unpack reads a compressed column back.
    bool pack(const String& bytes);
    bool unpack(sqlite3_stmt* statement, int column, String* bytes);
    bool createSchema();

    std::unique_ptr<sqlite3, DatabaseDeleter> m_db;
    String m_path;
    StoreError m_error;
    Statement m_addFound;
    Statement m_putPage;
    Statement m_getPage;
    Statement m_setValue;
    Statement m_getValue;
    // Made once: a context per page would cost more than the page.
    std::unique_ptr<ZSTD_CCtx_s, CompressorDeleter> m_compressor;
    std::unique_ptr<ZSTD_DCtx_s, DecompressorDeleter> m_decompressor;
    std::vector<char> m_packed;
    std::size_t m_packedSize = 0;
};
