// The HTML report: results.htm, pagelist.htm, links.htm and the logo.

#include "reportwriter.h"

#include "ioerror.h"
#include "passwordmask.h"
#include "runaccount.h"
#include "runview.h"
#include "stagedfile.h"
#include "stringhelpers.h"
#include "textdecode.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <chrono>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// Resources of a static library are registered by name, outside any
// namespace.
static void initRunResources()
{
    Q_INIT_RESOURCE(run);
}

namespace {

const char* const kSiteAddress = "https://netquarry.example.org/";
const char* const kCredit = " - keyword search for whole web sites";
const char* const kLogoText = "Netquarry";

// One report file: every line ends in CR LF. It is staged beside its target
// and takes its place only when the whole report is written.
class ReportFile
{
public:
    ReportFile(const String& folder, const char* name) : m_file(folder + "/" + name) {}

    // Writes a fixed block of lines, each ending in CR LF, with every {name}
    // replaced by its text.
    void Block(std::string_view text,
               std::initializer_list<std::pair<std::string_view, String>> fields = {})
    {
        String out;
        out.reserve(text.size() + 64);
        for (std::size_t i = 0; i < text.size();) {
            if (text[i] == '{') {
                const auto close = text.find('}', i);
                const std::string_view name = text.substr(i + 1, close - i - 1);
                for (const auto& [field, value] : fields) {
                    if (field == name)
                        out += value;
                }
                i = close + 1;
            } else if (text[i] == '\n') {
                out += "\r\n";
                ++i;
            } else {
                out += text[i++];
            }
        }
        m_file.Write(out);
    }

    void Commit() { m_file.Commit(); }

private:
    StagedFile m_file;
};

// Holds the lock on the report folder, so that runs writing into one folder
// take turns and the folder always holds one run's whole report. A lock
// taken with flock needs no disk space and dies with its holder.
class FolderLock
{
public:
    explicit FolderLock(const String& folder) : m_path(folder + "/.netquarry.lock")
    {
        const auto deadline = std::chrono::steady_clock::now() + kLockWait;
        for (;;) {
            m_fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (m_fd < 0)
                throw EInOutError::CannotWrite(m_path, errno);
            while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
                if (errno != EWOULDBLOCK && errno != EINTR)
                    failWith(EInOutError::CannotWrite(m_path, errno));
                if (std::chrono::steady_clock::now() >= deadline)
                    failWith(EInOutError("cannot lock " + m_path +
                                             ": another run is writing a report into " + folder,
                                         EWOULDBLOCK));
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            // The holder before removed the file as it let go: lock the new one.
            struct stat held
            {
            }, named{};
            if (::fstat(m_fd, &held) == 0 && ::lstat(m_path.c_str(), &named) == 0 &&
                held.st_dev == named.st_dev && held.st_ino == named.st_ino)
                return;
            ::close(std::exchange(m_fd, -1));
        }
    }
    ~FolderLock()
    {
        ::unlink(m_path.c_str());
        ::close(m_fd);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    // A run waits this long for another one's report before it gives up.
    static constexpr std::chrono::seconds kLockWait{5};

    [[noreturn]] void failWith(const EInOutError& error)
    {
        ::close(std::exchange(m_fd, -1));
        throw error;
    }

    String m_path;
    int m_fd = -1;
};

// The pages keep the line breaks, mid-tag too, of the pages this report has
// always written.
constexpr std::string_view kHead = R"(<HTML>
<HEAD>
<TITLE>Netquarry search results</TITLE>
</HEAD>
<BODY BGCOLOR="#0080FF">
)";

constexpr std::string_view kFooter =
    R"(<P ALIGN="CENTER"><FONT SIZE="-1" FACE="Arial" COLOR="#FFFF00">This page was
generated with Netquarry{credit}</FONT></P>
<P ALIGN="CENTER"><A HREF="{site}"
TARGET="new"><IMG SRC="qlogo.gif" ALT="{logo}" BORDER="0"></A></P>
</BODY>
</HTML>
)";

constexpr std::string_view kItem =
    R"(<LI><FONT FACE="Arial" COLOR="#FFFFFF"><B><A HREF="{address}" TARGET="new"><FONT
COLOR="#FFFF00">{text}</FONT></A></B></FONT></LI>
)";

constexpr std::string_view kListHeading = R"(<P ALIGN="LEFT"><FONT FACE="Arial"><B><FONT SIZE="+3"
COLOR="#FFFFFF">Netquarry search results<FONT FACE="Arial"
COLOR="#FFFFFF"><B></B></FONT></FONT></B></FONT></P>
<P ALIGN="LEFT"><FONT FACE="Arial"><B><FONT COLOR="#FFFFFF">Scanned pages
related to: {address}</FONT></B></FONT></P>
)";

constexpr std::string_view kResultsTitle =
    R"(<P ALIGN="CENTER"><FONT FACE="Arial"><B><FONT SIZE="+3"
COLOR="#FFFFFF">Netquarry search results</FONT></B></FONT></P>
)";

constexpr std::string_view kAborted =
    R"(<P ALIGN="CENTER"><FONT COLOR="#FFFFFF" FACE="Arial"><B>(Request aborted by
user.)</B></FONT></P>
)";

constexpr std::string_view kListLink =
    R"(<B><P ALIGN="CENTER"><FONT FACE="Arial" COLOR="#FFFFFF"><B><A HREF="{file}"><FONT
COLOR="#FFFF00">Click here</FONT></A> to view {list}.</B></FONT></B>
<FONT FACE="Arial" COLOR="#FFFFFF"><B></B></FONT><BR>
<BR>
)";

constexpr std::string_view kSummary = R"(<BLOCKQUOTE><TABLE WIDTH="81%">
<TR>
<TD WIDTH="212" ALIGN="RIGHT"><FONT FACE="Arial" COLOR="#FFFFFF"><B>Scanned
pages related to:</B></FONT><BR>
<BR>
<FONT FACE="Arial" COLOR="#FFFFFF"><B> </B></FONT></TD>
<TD WIDTH="380" VALIGN="TOP"><FONT FACE="Arial"><B><FONT
COLOR="#FFFFFF">{address}</FONT></B></FONT></TD>
</TR>
<TR>
<TD WIDTH="212" ALIGN="RIGHT"><FONT FACE="Arial" COLOR="#FFFFFF"><B>Searching
for:</B></FONT><BR>
<BR>
<FONT FACE="Arial" COLOR="#FFFFFF"><B></B></FONT></TD>
<TD WIDTH="380" VALIGN="TOP"><FONT COLOR="#FFFFFF"
FACE="Arial"><B>&nbsp;{keywords}</B></FONT></TD>
</TR>
<TR>
<TD WIDTH="212" ALIGN="RIGHT"><FONT FACE="Arial"
COLOR="#FFFFFF"><B>Search-level:</B></FONT><BR>
<BR>
</TD>
<TD WIDTH="380" VALIGN="TOP"><FONT COLOR="#FFFFFF">&nbsp;<B><FONT
FACE="Arial">{depth}</FONT></B></FONT></TD>
</TR>
<TR>
<TD WIDTH="212" ALIGN="RIGHT"><FONT FACE="Arial" COLOR="#FFFFFF"><B>No of pages
found on site:</B></FONT><BR>
<FONT FACE="Arial" COLOR="#FFFFFF"><B></B></FONT><FONT FACE="Arial"
COLOR="#FFFFFF"><B></B></FONT></TD>
<TD WIDTH="380" VALIGN="TOP"><FONT COLOR="#FFFFFF"
FACE="Arial"><B>&nbsp;{pages}</B></FONT></TD>
</TR>
<TR>
<TD WIDTH="212" ALIGN="RIGHT"><FONT FACE="Arial" COLOR="#FFFFFF"><B>Pages with
hits:</B></FONT></TD>
<TD WIDTH="380"><B><FONT COLOR="#FFFFFF" FACE="Arial">&nbsp;{hitPages}</FONT></B></TD>
</TR>
</TABLE>
</BLOCKQUOTE>
<P><FONT FACE="Arial"><B><FONT COLOR="#FFFFFF">Hitlist:</FONT></B></FONT><FONT
FACE="Arial" COLOR="#FFFFFF"><B><A HREF="{site}"><FONT
COLOR="#FFFF00"></FONT></A></B></FONT></P>
<UL>
)";

constexpr std::string_view kResultsEnd = R"(</UL>
<P ALIGN="CENTER"></P>
<P ALIGN="CENTER"></P>
<P ALIGN="CENTER"></P>
)";

// After the hit list: the pages that were not searched, and why, so that a
// missing hit is never mistaken for an absent word.
constexpr std::string_view kNotSearched = R"(</UL>
<P><FONT FACE="Arial"><B><FONT COLOR="#FFFFFF">Not searched ({count}):</FONT></B></FONT></P>
<UL>
)";

constexpr std::string_view kCount =
    R"(<P ALIGN="LEFT"><FONT COLOR="#FFFFFF" FACE="Arial"><B>{count}</B></FONT>
</P>
<UL>
)";

constexpr std::string_view kListEnd = R"(</UL>
<P ALIGN="CENTER"></P>
<P ALIGN="CENTER"></P>
)";

void writeFooter(ReportFile& f)
{
    f.Block(kFooter, {{"credit", kCredit}, {"site", kSiteAddress}, {"logo", kLogoText}});
}

// address is already escaped.
void writeItem(ReportFile& f, const String& address, const String& text)
{
    f.Block(kItem, {{"address", address}, {"text", text}});
}

void writeResults(ReportFile& f, const TRunData& data, const String& address,
                  const String& keywords, const String& depth)
{
    f.Block(kHead);
    f.Block(kResultsTitle);
    if (data.Cancelled)
        f.Block(kAborted);
    f.Block(kListLink, {{"file", "pagelist.htm"}, {"list", "page-list"}});
    f.Block(kListLink, {{"file", "links.htm"}, {"list", "link-list"}});
    f.Block(kSummary, {{"address", address},
                       {"keywords", keywords},
                       {"depth", depth},
                       {"pages", std::to_string(data.PageCount)},
                       {"hitPages", std::to_string(data.HitPageCount)},
                       {"site", kSiteAddress}});
    for (const TPageEntry& entry : data.PageTable) {
        if (entry.Hits <= 0)
            continue;
        const String name = TReportWriter::EscapeHtml(MaskPasswords(entry.Name));
        writeItem(f, name, name + " (" + std::to_string(entry.Hits) + " Hits)");
    }
    std::vector<const TPageEntry*> notSearched;
    for (Integer i = 0; i < data.PageCount && i < static_cast<Integer>(data.PageTable.size());
         ++i) {
        const TPageEntry& entry = data.PageTable[static_cast<std::size_t>(i)];
        if (entry.State != TPageState::Searched && !entry.Address().empty())
            notSearched.push_back(&entry);
    }
    // A run that searched for nothing has nothing to account for.
    if (!notSearched.empty() && !keywords.empty()) {
        f.Block(kNotSearched, {{"count", std::to_string(notSearched.size())}});
        for (const TPageEntry* entry : notSearched) {
            const String page = TReportWriter::EscapeHtml(MaskPasswords(entry->Address()));
            writeItem(f, page, page + " (" + TReportWriter::EscapeHtml(PageStatus(*entry)) + ")");
        }
    }
    f.Block(kResultsEnd);
    writeFooter(f);
}

// "pagelist.htm" and "links.htm": a heading, a count and a list of
// addresses (already escaped).
void writeList(ReportFile& f, const String& address, const String& count,
               const std::vector<String>& items)
{
    f.Block(kHead);
    f.Block(kListHeading, {{"address", address}});
    f.Block(kCount, {{"count", count}});
    for (const String& item : items)
        writeItem(f, item, item);
    f.Block(kListEnd);
    writeFooter(f);
}

} // namespace

TPageEntry::TPageEntry(const TPageEntry& other)
    : Name(other.Name), Hits(other.Hits), State(other.State), NotModified(other.NotModified),
      KeywordHits(other.KeywordHits),
      m_details(other.m_details ? std::make_unique<TPageDetails>(*other.m_details) : nullptr)
{}

TPageEntry& TPageEntry::operator=(const TPageEntry& other)
{
    if (this != &other)
        *this = TPageEntry(other);
    return *this;
}

TPageEntry::~TPageEntry() = default;

void TPageEntry::SetAddress(const String& address)
{
    if (address != Name)
        editDetails().Address = address;
    else if (m_details)
        m_details->Address.clear();
}

void TPageEntry::Rename(String name)
{
    if (name == Name)
        return;
    if (!m_details || m_details->Address.empty())
        editDetails().Address = std::move(Name);
    Name = std::move(name);
}

void TPageEntry::SetFailure(const TransferError& failure)
{
    if (failure.failed() || failure.status != 0 || !failure.detail.empty() || m_details)
        editDetails().Failure = failure;
}

void TPageEntry::SetRule(const String& rule)
{
    if (!rule.empty() || m_details)
        editDetails().Rule = rule;
}

void TPageEntry::SetLocation(const String& location)
{
    if (!location.empty() || m_details)
        editDetails().Location = location;
}

void TPageEntry::SetSnippets(std::vector<std::vector<String>> snippets)
{
    if (!snippets.empty() || m_details)
        editDetails().Snippets = std::move(snippets);
}

const TPageDetails& TPageEntry::details() const
{
    static const TPageDetails none;
    return m_details ? *m_details : none;
}

TPageDetails& TPageEntry::editDetails()
{
    if (!m_details)
        m_details = std::make_unique<TPageDetails>();
    return *m_details;
}

void TReportWriter::WriteLogo(const QString& folder)
{
    initRunResources();
    QFile source(QStringLiteral(":/run/qlogo.gif"));
    const String target = QFile::encodeName(folder).toStdString() + "/qlogo.gif";
    if (!source.open(QIODevice::ReadOnly))
        throw EInOutError::CannotWrite(target, ENOENT);
    const QByteArray bytes = source.readAll();
    StagedFile file(target);
    file.Write(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    file.Commit();
}

void TReportWriter::CountHitPages(TRunData& data)
{
    data.HitPageCount = 0;
    for (const TPageEntry& entry : data.PageTable) {
        if (entry.Hits > 0)
            ++data.HitPageCount;
    }
}

String TReportWriter::EscapeHtml(const String& text)
{
    const QString decoded = DecodeWebText(text);
    String out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < decoded.size(); ++i) {
        char32_t c = decoded[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < decoded.size() &&
            decoded[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(decoded[i].unicode(), decoded[i + 1].unicode());
            ++i;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            if (c < 0x80)
                out += static_cast<char>(c);
            else
                out += "&#" + std::to_string(static_cast<std::uint32_t>(c)) + ";";
        }
    }
    return out;
}

void TReportWriter::WriteReport(const TRunData& data, IRunView& view)
{
    WriteReportFiles(data, view, String());
    view.OpenResultsPage();
}

void TReportWriter::WriteReportFiles(const TRunData& data, const IRunView& view,
                                     const String& folder)
{
    String target = folder.empty() ? QFile::encodeName(QDir::currentPath()).toStdString() : folder;
    while (target.size() > 1 && target.back() == '/')
        target.pop_back();
    const FolderLock lock(target);
    // The address box holds what the user typed, password and all.
    const String address = EscapeHtml(MaskPasswords(view.AddressText()));
    const String keywords = EscapeHtml(view.KeywordText() + data.KeywordNote);
    const String depth = EscapeHtml(view.DepthText());
    // All three are staged before any takes its place: a failed write
    // leaves the last report as it was.
    ReportFile results(target, "results.htm");
    writeResults(results, data, address, keywords, depth);
    std::vector<String> pages;
    for (const TPageEntry& entry : data.PageTable) {
        if (!entry.Name.empty())
            pages.push_back(EscapeHtml(MaskPasswords(entry.Name)));
    }
    ReportFile pageList(target, "pagelist.htm");
    writeList(pageList, address, std::to_string(data.PageCount) + " Pages found:", pages);
    std::vector<String> links;
    for (const String& link : data.LinkList)
        links.push_back(EscapeHtml(MaskPasswords(link)));
    ReportFile linkList(target, "links.htm");
    writeList(linkList, address, std::to_string(data.LinkCount) + " Links found:", links);
    results.Commit();
    pageList.Commit();
    linkList.Commit();
}
