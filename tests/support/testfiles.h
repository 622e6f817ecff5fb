#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include <zlib.h>

namespace nqtest {

// The whole file as bytes; empty when it cannot be read.
inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// text as a gzip file, as a server may serve a sitemap.xml.gz.
inline std::string Gzip(const std::string& text)
{
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    std::string out(deflateBound(&z, text.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const bool whole = deflate(&z, Z_FINISH) == Z_STREAM_END;
    out.resize(whole ? z.total_out : 0);
    deflateEnd(&z);
    return out;
}

} // namespace nqtest
