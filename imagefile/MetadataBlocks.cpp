#include "imagefile/MetadataBlocks.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

const char kPngSignature[] = "\x89PNG\r\n\x1a\n";
const char kExifId[] = "Exif\0\0";                     // 6 bytes
const char kXmpId[] = "http://ns.adobe.com/xap/1.0/";  // and its 0
const char kIccId[] = "ICC_PROFILE";                   // and its 0
const char kPngXmpKeyword[] = "XML:com.adobe.xmp";

uint8_t At(const std::string& s, size_t i) {
  return uint8_t(s[i]);
}

uint32_t Big32(const std::string& s, size_t i) {
  return uint32_t(At(s, i)) << 24 | uint32_t(At(s, i + 1)) << 16 | uint32_t(At(s, i + 2)) << 8 |
         At(s, i + 3);
}

bool StartsWith(const std::string& s, size_t at, const char* id, size_t n) {
  return s.size() >= at + n && std::memcmp(s.data() + at, id, n) == 0;
}

bool IsJpeg(const std::string& f) {
  return f.size() >= 4 && At(f, 0) == 0xFF && At(f, 1) == 0xD8 && At(f, 2) == 0xFF;
}
bool IsPng(const std::string& f) {
  return StartsWith(f, 0, kPngSignature, 8);
}

// Calls see(marker, payload start, payload size) for each segment before the scan.
template <class See>
void WalkJpeg(const std::string& f, See see) {
  size_t i = 2;
  while (i + 4 <= f.size() && At(f, i) == 0xFF) {
    const uint8_t m = At(f, i + 1);
    if (m == 0xFF) {  // fill byte
      ++i;
      continue;
    }
    if (m == 0xD9 || m == 0xDA) return;  // the end, or the scan
    if (m == 0x01 || (m >= 0xD0 && m <= 0xD7)) {
      i += 2;
      continue;
    }
    const size_t length = size_t(At(f, i + 2)) << 8 | At(f, i + 3);
    if (length < 2 || length > f.size() - i - 2) return;
    see(m, i + 4, length - 2);
    i += 2 + length;
  }
}

// Calls see(type, data start, data size) for each chunk before IEND.
template <class See>
void WalkPng(const std::string& f, See see) {
  size_t i = 8;
  while (i + 12 <= f.size()) {
    const size_t length = Big32(f, i);
    if (length > f.size() - i - 12) return;
    const std::string type = f.substr(i + 4, 4);
    if (type == "IEND") return;
    see(type, i + 8, length);
    i += 12 + length;
  }
}

uint32_t Crc32(const std::string& s, size_t from) {
  static const std::vector<uint32_t> table = [] {
    std::vector<uint32_t> t(256);
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = from; i < s.size(); ++i) c = table[(c ^ At(s, i)) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void PutBig32(std::string* s, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s->push_back(char(v >> shift));
}

std::string PngChunk(const char* type, const std::string& data) {
  std::string chunk;
  PutBig32(&chunk, uint32_t(data.size()));
  chunk += std::string(type, 4) + data;
  PutBig32(&chunk, Crc32(chunk, 4));
  return chunk;
}

// A zlib stream of stored blocks: PNG's iCCP must be zlib, and a profile is small.
std::string StoredZlib(const std::string& data) {
  std::string z = "\x78\x01";
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(65535, data.size() - at);
    z.push_back(at + n == data.size() ? 1 : 0);
    z.push_back(char(n & 0xFF));
    z.push_back(char(n >> 8));
    z.push_back(char(~n & 0xFF));
    z.push_back(char((~n >> 8) & 0xFF));
    z.append(data, at, n);
    at += n;
  } while (at < data.size());
  uint32_t a = 1, b = 0;
  for (char c : data) {
    a = (a + uint8_t(c)) % 65521;
    b = (b + a) % 65521;
  }
  PutBig32(&z, b << 16 | a);
  return z;
}

std::string JpegSegment(uint8_t marker, const std::string& payload) {
  const size_t length = payload.size() + 2;
  return std::string{char(0xFF), char(marker), char(length >> 8), char(length & 0xFF)} + payload;
}

// Where a TIFF structure's first IFD keeps the orientation value; 0 without one.
size_t OrientationOffset(const std::string& t, bool* little) {
  if (t.size() < 8) return 0;
  *little = t[0] == 'I' && t[1] == 'I';
  if (!*little && !(t[0] == 'M' && t[1] == 'M')) return 0;
  auto u16 = [&](size_t i) {
    return *little ? uint32_t(At(t, i)) | uint32_t(At(t, i + 1)) << 8
                   : uint32_t(At(t, i)) << 8 | uint32_t(At(t, i + 1));
  };
  auto u32 = [&](size_t i) {
    return *little ? u16(i) | u16(i + 2) << 16 : u16(i) << 16 | u16(i + 2);
  };
  if (u16(2) != 42) return 0;
  const size_t ifd = u32(4);
  if (ifd < 8 || ifd > t.size() - 2) return 0;
  const size_t entries = u16(ifd);
  for (size_t e = 0; e < entries; ++e) {
    const size_t at = ifd + 2 + 12 * e;
    if (at + 12 > t.size()) return 0;
    if (u16(at) == 274 && u16(at + 2) == 3 && u32(at + 4) == 1) return at + 8;  // one SHORT
  }
  return 0;
}

}  // namespace

MetadataBlocks FindMetadataBlocks(const std::string& f) {
  MetadataBlocks blocks;
  if (IsJpeg(f)) {
    std::vector<std::string> icc;  // the chunks by their number, 1 to count
    bool iccBroken = false;
    WalkJpeg(f, [&](uint8_t m, size_t at, size_t n) {
      if (m == 0xE1 && blocks.exif.empty() && StartsWith(f, at, kExifId, 6) && n > 6) {
        blocks.exif = f.substr(at + 6, n - 6);
      } else if (m == 0xE1 && blocks.xmp.empty() && StartsWith(f, at, kXmpId, sizeof kXmpId) &&
                 n > sizeof kXmpId) {
        blocks.xmp = f.substr(at + sizeof kXmpId, n - sizeof kXmpId);
      } else if (m == 0xE2 && StartsWith(f, at, kIccId, sizeof kIccId) && n > 14) {
        const size_t number = At(f, at + 12), count = At(f, at + 13);
        if (icc.empty()) icc.resize(count);
        if (number < 1 || number > icc.size() || count != icc.size() || !icc[number - 1].empty())
          iccBroken = true;
        else
          icc[number - 1] = f.substr(at + 14, n - 14);
      }
    });
    for (const std::string& chunk : icc) iccBroken = iccBroken || chunk.empty();
    if (!iccBroken)
      for (const std::string& chunk : icc) blocks.icc += chunk;
  } else if (IsPng(f)) {
    WalkPng(f, [&](const std::string& type, size_t at, size_t n) {
      if (type == "eXIf" && blocks.exif.empty()) {
        blocks.exif = f.substr(at, n);
      } else if (type == "iTXt" && blocks.xmp.empty() &&
                 StartsWith(f, at, kPngXmpKeyword, sizeof kPngXmpKeyword)) {
        // keyword, 0, compression flag, method, language, 0, translated keyword, 0, text
        const std::string data = f.substr(at, n);
        size_t p = sizeof kPngXmpKeyword;
        if (p + 2 > data.size() || data[p] != 0) return;  // compressed: left out
        const size_t language = data.find('\0', p + 2);
        if (language == std::string::npos) return;
        const size_t translated = data.find('\0', language + 1);
        if (translated == std::string::npos) return;
        blocks.xmp = data.substr(translated + 1);
      }
    });
  }
  return blocks;
}

int TiffOrientation(const std::string& tiff) {
  bool little = false;
  const size_t at = OrientationOffset(tiff, &little);
  if (!at) return 0;
  const int v =
      little ? At(tiff, at) | At(tiff, at + 1) << 8 : At(tiff, at) << 8 | At(tiff, at + 1);
  return v >= 1 && v <= 8 ? v : 0;
}

void ResetTiffOrientation(std::string* tiff) {
  bool little = false;
  const size_t at = OrientationOffset(*tiff, &little);
  if (!at) return;
  (*tiff)[at] = little ? 1 : 0;
  (*tiff)[at + 1] = little ? 0 : 1;
}

void AddMetadataBlocks(const MetadataBlocks& blocks, std::string* file) {
  const MetadataBlocks has = FindMetadataBlocks(*file);
  std::string& f = *file;
  if (IsJpeg(f)) {
    std::string add;
    if (!blocks.exif.empty() && has.exif.empty() && blocks.exif.size() + 8 <= 65535)
      add += JpegSegment(0xE1, std::string(kExifId, 6) + blocks.exif);
    if (!blocks.xmp.empty() && has.xmp.empty() && blocks.xmp.size() + sizeof kXmpId + 2 <= 65535)
      add += JpegSegment(0xE1, std::string(kXmpId, sizeof kXmpId) + blocks.xmp);
    constexpr size_t kChunk = 65535 - 2 - 14;
    const size_t chunks = (blocks.icc.size() + kChunk - 1) / kChunk;
    if (!blocks.icc.empty() && has.icc.empty() && chunks <= 255)
      for (size_t c = 0; c < chunks; ++c)
        add += JpegSegment(0xE2, std::string(kIccId, sizeof kIccId) + char(c + 1) + char(chunks) +
                                     blocks.icc.substr(c * kChunk, kChunk));
    // After SOI and the JFIF segment, which readers expect first.
    size_t at = 2;
    if (f.size() >= 6 && At(f, 2) == 0xFF && At(f, 3) == 0xE0)
      at = std::min(f.size(), 4 + (size_t(At(f, 4)) << 8 | At(f, 5)));
    f.insert(at, add);
  } else if (IsPng(f) && f.size() >= 33 && f.compare(12, 4, "IHDR") == 0) {
    std::string add;
    bool colour = false;  // a profile, or sRGB said instead, which excludes one
    WalkPng(f, [&](const std::string& type, size_t, size_t) {
      colour = colour || type == "sRGB" || type == "iCCP";
    });
    if (!blocks.icc.empty() && !colour)
      add += PngChunk("iCCP", std::string("icc\0\0", 5) + StoredZlib(blocks.icc));
    if (!blocks.exif.empty() && has.exif.empty()) add += PngChunk("eXIf", blocks.exif);
    if (!blocks.xmp.empty() && has.xmp.empty())
      add += PngChunk("iTXt", std::string(kPngXmpKeyword, sizeof kPngXmpKeyword) +
                                  std::string(4, '\0') + blocks.xmp);
    f.insert(std::min<size_t>(f.size(), 8 + 12 + size_t(Big32(f, 8))),
             add);  // after IHDR, before any palette or data
  }
}
