// TCrawlScope: which of the pages a crawl finds it fetches, and why it leaves the others.

#include "crawlscope.h"

#include "textdecode.h"

#include <algorithm>

namespace {

std::vector<QRegularExpression> compile(const std::vector<String>& patterns, const char* option,
                                        String* error)
{
    std::vector<QRegularExpression> compiled;
    for (const String& pattern : patterns) {
        QRegularExpression expression(DecodeWebText(pattern));
        if (!expression.isValid() && error->empty())
            *error = String("invalid ") + option + " '" + pattern +
                     "': " + ToUtf8(expression.errorString()) + " at offset " +
                     std::to_string(expression.patternErrorOffset());
        compiled.push_back(std::move(expression));
    }
    return compiled;
}

bool anyMatch(const std::vector<QRegularExpression>& patterns, const QString& address)
{
    return std::any_of(patterns.begin(), patterns.end(), [&](const QRegularExpression& pattern) {
        return pattern.isValid() && pattern.match(address).hasMatch();
    });
}

} // namespace

TCrawlScope::TCrawlScope(const SearchSettings& settings)
    : m_maxPages(settings.maxPages), m_maxQueries(settings.maxQueriesPerPath)
{
    m_accept = compile(settings.acceptPatterns, "--accept-regex", &m_error);
    m_reject = compile(settings.rejectPatterns, "--reject-regex", &m_error);
}

String TCrawlScope::Admit(const String& address)
{
    const QString text = DecodeWebText(address);
    if (anyMatch(m_reject, text) || (!m_accept.empty() && !anyMatch(m_accept, text)))
        return "excluded";
    const auto fragment = address.find('#');
    const auto query = address.find('?');
    if (m_maxQueries > 0 && query != String::npos && query < fragment) {
        const String path = address.substr(0, query);
        auto& seen = m_queries[path];
        const String rest =
            address.substr(query, fragment == String::npos ? String::npos : fragment - query);
        if (!seen.contains(rest)) {
            if (static_cast<Integer>(seen.size()) >= m_maxQueries) {
                if (std::find(m_trapPaths.begin(), m_trapPaths.end(), path) == m_trapPaths.end())
                    m_trapPaths.push_back(path);
                return "excluded";
            }
            seen.insert(rest);
        }
    }
    if (m_maxPages > 0 && m_admitted >= m_maxPages)
        return "not searched";
    ++m_admitted;
    return String();
}
