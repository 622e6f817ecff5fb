// The HTML report: results.htm, pagelist.htm, links.htm and the logo.

#include "reportwriter.h"

#include "ioerror.h"
#include "runaccount.h"
#include "runview.h"
#include "stringhelpers.h"
#include "textdecode.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

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

// One report file: every line ends in CR LF, and every create, write and
// close is checked.
class ReportFile
{
public:
    explicit ReportFile(const char* name) : m_file(std::fopen(name, "wb"))
    {
        if (!m_file) {
            const int error = errno;
            if (error == EACCES || error == EPERM || error == EROFS)
                throw EInOutError("File access denied", error);
            throw EInOutError::CannotCreate(name, error);
        }
    }

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
        if (std::fwrite(out.data(), 1, out.size(), m_file.get()) != out.size())
            throw EInOutError::FromErrno(errno);
    }

    void Close()
    {
        if (std::fclose(m_file.release()) != 0)
            throw EInOutError::FromErrno(errno);
    }

private:
    CFile m_file;
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

void writeResults(const String& folder, const TRunData& data, const String& address,
                  const String& keywords, const String& depth)
{
    ReportFile f((folder + "results.htm").c_str());
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
        const String name = TReportWriter::EscapeHtml(entry.Name);
        writeItem(f, name, name + " (" + std::to_string(entry.Hits) + " Hits)");
    }
    std::vector<const TPageEntry*> notSearched;
    for (Integer i = 0; i < data.PageCount && i < static_cast<Integer>(data.PageTable.size());
         ++i) {
        const TPageEntry& entry = data.PageTable[static_cast<std::size_t>(i)];
        if (entry.State != TPageState::Searched && !entry.Address.empty())
            notSearched.push_back(&entry);
    }
    // A run that searched for nothing has nothing to account for.
    if (!notSearched.empty() && !keywords.empty()) {
        f.Block(kNotSearched, {{"count", std::to_string(notSearched.size())}});
        for (const TPageEntry* entry : notSearched) {
            const String page = TReportWriter::EscapeHtml(entry->Address);
            writeItem(f, page, page + " (" + TReportWriter::EscapeHtml(PageStatus(*entry)) + ")");
        }
    }
    f.Block(kResultsEnd);
    writeFooter(f);
    f.Close();
}

// "pagelist.htm" and "links.htm": a heading, a count and a list of
// addresses (already escaped).
void writeList(const String& fileName, const String& address, const String& count,
               const std::vector<String>& items)
{
    ReportFile f(fileName.c_str());
    f.Block(kHead);
    f.Block(kListHeading, {{"address", address}});
    f.Block(kCount, {{"count", count}});
    for (const String& item : items)
        writeItem(f, item, item);
    f.Block(kListEnd);
    writeFooter(f);
    f.Close();
}

} // namespace

bool TReportWriter::WriteLogo(const QString& folder)
{
    initRunResources();
    QFile source(QStringLiteral(":/run/qlogo.gif"));
    QFile target(folder + QStringLiteral("/qlogo.gif"));
    return source.open(QIODevice::ReadOnly) && target.open(QIODevice::WriteOnly) &&
           target.write(source.readAll()) == source.size();
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
    const String prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    const String address = EscapeHtml(view.AddressText());
    const String keywords = EscapeHtml(view.KeywordText() + data.KeywordNote);
    const String depth = EscapeHtml(view.DepthText());
    writeResults(prefix, data, address, keywords, depth);
    std::vector<String> pages;
    for (const TPageEntry& entry : data.PageTable) {
        if (!entry.Name.empty())
            pages.push_back(EscapeHtml(entry.Name));
    }
    writeList(prefix + "pagelist.htm", address,
              std::to_string(data.PageCount) + " Pages found:", pages);
    std::vector<String> links;
    for (const String& link : data.LinkList)
        links.push_back(EscapeHtml(link));
    writeList(prefix + "links.htm", address,
              std::to_string(data.LinkCount) + " Links found:", links);
}
