#include "telemetry/http/compression.h"

#include <zlib.h>

#include "telemetry/core/logger.h"

namespace tlm {

namespace {

// Window bits 15 plus 16: a gzip wrapper instead of a zlib one.
constexpr int kGzipWindowBits = 31;
constexpr int kMemoryLevel = 8;

const char* initErrorText(int code) {
  switch (code) {
    case Z_VERSION_ERROR:
      return "Version of zlib.h & libz library do not match!";
    case Z_MEM_ERROR:
      return "Not enough memory.";
    case Z_STREAM_ERROR:
      return "Invalid parameter passed in to function.";
    default:
      return "Unknown error!";
  }
}

const char* deflateErrorText(int code) {
  switch (code) {
    case Z_STREAM_ERROR:
      return "Inconsistent stream state.";
    case Z_BUF_ERROR:
      return "No progress is possible.";
    default:
      return "Unknown error!";
  }
}

}  // namespace

std::optional<std::string> TLMCompression::compressData(const std::string& data) {
  if (data.empty()) return std::nullopt;
  z_stream stream{};
  int status = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits,
                            kMemoryLevel, Z_DEFAULT_STRATEGY);
  if (status != Z_OK) {
    TLM_LOG(TLMLogLevel::Error, kTLMLogTag,
            std::string("Compression failed with error: ") + initErrorText(status));
    return std::nullopt;
  }
  // deflateBound gives room for the whole output in one pass, small inputs included.
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  do {
    status = deflate(&stream, Z_FINISH);
  } while (status == Z_OK && stream.avail_out > 0);
  // Output that does not fit counts as "no progress".
  if (status == Z_OK) status = Z_BUF_ERROR;
  const uLong produced = stream.total_out;
  deflateEnd(&stream);
  if (status != Z_STREAM_END) {
    TLM_LOG(TLMLogLevel::Error, kTLMLogTag,
            std::string("Deflate failed with error: ") + deflateErrorText(status));
    return std::nullopt;
  }
  out.resize(produced);
  return out;
}

}  // namespace tlm
