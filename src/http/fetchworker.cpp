// TFetchWorker: one page transfer of either fetch component, and what its reply must meet.

#include "fetchworker.h"

#include "internetaccess.h"
#include "lasterror.h"
#include "messagebox.h"
#include "stringhelpers.h"
#include "textdecode.h"

#include <QUrl>

#include <charconv>
#include <cstdio>
#include <string_view>

namespace {

using Kind = TransferError::Kind;

bool parseNumber(std::string_view text, Integer* value)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    const auto [last, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return !text.empty() && text.front() != '-' && error == std::errc() &&
           last == text.data() + text.size();
}

enum class Length
{
    Absent,
    Valid,
    Invalid, // not a decimal number, or announced twice with different values
};

// An encoded body is handed out decoded, so its Content-Length says nothing
// about it; a reply that announces two different lengths has none.
Length lengthOf(const inet::ReplyHeaders& headers, const String& head, Integer* value)
{
    if (headers.field("Content-Encoding"))
        return Length::Absent;
    const auto text = headers.field("Content-Length");
    if (!text)
        return Length::Absent;
    if (!parseNumber(*text, value))
        return Length::Invalid;
    constexpr std::string_view kName = "content-length:";
    std::size_t pos = head.find("\r\n");
    while (pos != String::npos) {
        pos += 2;
        const std::size_t end = head.find("\r\n", pos);
        const std::string_view line(head.data() + pos,
                                    (end == String::npos ? head.size() : end) - pos);
        pos = end;
        Integer other = 0;
        if (StartsWithNoCase(line, kName) &&
            (!parseNumber(line.substr(kName.size()), &other) || other != *value))
            return Length::Invalid;
    }
    return Length::Valid;
}

} // namespace

void TFetchWorker::Execute()
{
    if (!OpenRequest(Handles, Request, *this)) {
        failNow();
        return;
    }
    const bool form = !Request.PostQuery.empty();
    const bool sent = HttpSendRequestWhole(
        Handles.Request.load(), form ? kFormHeader : nullptr,
        form ? static_cast<std::uint32_t>(sizeof(kFormHeader) - 1) : 0U,
        form ? Request.PostQuery.data() : nullptr,
        static_cast<std::uint32_t>(Request.PostQuery.size()), [this](inet::TransferReply reply) {
            Handles.Close();
            Complete([this, reply = std::move(reply)]() mutable {
                try {
                    Success = take(reply);
                } catch (const std::exception& e) {
                    Success = fail({Kind::Internal, 0, e.what()});
                }
            });
        });
    if (!sent)
        failNow();
}

void TFetchWorker::failNow()
{
    // Read here: the layer keeps the failure per thread.
    TransferError error = inet::LastFailure().error;
    Handles.Close();
    Complete([this, error = std::move(error)] { Success = fail(error); });
}

bool TFetchWorker::fail(TransferError error)
{
    // A stop request outweighs whatever the library said about the transfer
    // it interrupted.
    if (Terminated())
        error = {Kind::Cancelled, 0, "The transfer was stopped"};
    Error = std::move(error);
    return false;
}

bool TFetchWorker::take(inet::TransferReply& reply)
{
    if (reply.error.failed())
        return fail(std::move(reply.error));
    EffectiveUrl = std::move(reply.url);
    Head = reply.headers.finalBlock();
    const auto status = reply.headers.statusCode();
    if (!status || !parseNumber(*status, &StatusCode))
        return fail({Kind::BadReply, 0, "The status code is not a number"});
    // An error page is not the page asked for.
    if (ErrorStatusFails && StatusCode >= 400)
        return fail({Kind::HttpStatus, StatusCode,
                     "The server answered with status " + std::to_string(StatusCode)});
    // A redirect kept from another host is the whole outcome: its body was
    // never kept, so no check of the body applies.
    if (StatusCode >= 300 && StatusCode < 400 && !Request.RedirectHost.empty()) {
        if (const auto location = reply.headers.field("Location")) {
            RedirectTarget = ToUtf8(QUrl(DecodeWebText(EffectiveUrl))
                                        .resolved(QUrl(DecodeWebText(*location)))
                                        .toString(QUrl::FullyEncoded));
            return true;
        }
    }
    const auto type = reply.headers.field("Content-Type");
    if (TypeRequired && !type)
        return fail({Kind::MissingHeader, 0, "The header was not found"});
    ContentType = type.value_or(String());

    ContentLength = 0;
    const Length length = lengthOf(reply.headers, Head, &ContentLength);
    if (length == Length::Invalid)
        return fail({Kind::BadReply, 0, "The Content-Length is not one number"});
    HasLength = length == Length::Valid;
    if (HasLength && static_cast<std::uint64_t>(ContentLength) > kMaxReplyBody)
        return fail({Kind::TooLarge, 0, "The reply announces more than 64 MiB"});
    if (LengthRequired && !HasLength)
        return fail({Kind::MissingHeader, 0, "The reply has no Content-Length"});

    TotalRead = static_cast<Integer>(reply.body.size());
    // Without a Content-Length (chunked or ended by the close) the body is
    // what arrived; an announced length must be met.
    if (HasLength && TotalRead != ContentLength)
        return fail({Kind::Closed, 0,
                     "The body has " + std::to_string(TotalRead) + " of " +
                         std::to_string(ContentLength) + " bytes"});
    if (!keep(reply.body))
        return false;
    Fire(Progress, this, ContentLength, TotalRead);
    return true;
}

bool TFetchWorker::keep(String& body)
{
    if (FileName.empty()) {
        if (EmptyBodyFails && body.empty())
            return fail({Kind::EmptyBody, 0, "The reply has an empty body"});
        Body = std::move(body); // the one copy there is, handed on
        return true;
    }
    CFile file(std::fopen(FileName.c_str(), "wb"));
    if (!file) {
        ShowMessageBox("unable to write to file " + FileName, TMsgKind::Error);
        return fail({Kind::File, 0, "unable to write to file " + FileName});
    }
    if (std::fwrite(body.data(), 1, body.size(), file.get()) != body.size() ||
        std::fclose(file.release()) != 0)
        return fail({Kind::File, 0, "unable to write to file " + FileName});
    return true;
}
