#include "platform/cdrom/scsi.h"

#include <algorithm>
#include <cstdio>

#include "platform/cdrom/cdrom_error.h"

namespace qv {
namespace {

void PutText(std::vector<std::uint8_t>& out, std::size_t at, std::size_t width,
             const std::string& text) {
  for (std::size_t i = 0; i < width; ++i)
    out[at + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
}

std::string GetText(std::span<const std::uint8_t> data, std::size_t at, std::size_t width) {
  std::string text;
  for (std::size_t i = at; i < at + width && i < data.size() && data[i] != 0; ++i)
    text.push_back(static_cast<char>(data[i]));
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

void PutAddress(std::uint8_t* at, std::uint32_t lsn, bool msf) {
  if (msf) {
    const CdMsf m = AbsoluteToMsf(lsn + kCdLeadInFrames);
    at[0] = 0;
    at[1] = m.Minute;
    at[2] = m.Second;
    at[3] = m.Frame;
  } else {
    at[0] = static_cast<std::uint8_t>(lsn >> 24);
    at[1] = static_cast<std::uint8_t>(lsn >> 16);
    at[2] = static_cast<std::uint8_t>(lsn >> 8);
    at[3] = static_cast<std::uint8_t>(lsn);
  }
}

std::uint32_t GetAddress(const std::uint8_t* at, bool msf) {
  if (!msf)
    return std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 | std::uint32_t{at[2]} << 8 |
           at[3];
  if (at[2] > 59 || at[3] > 74) throw ECdromError("READ TOC answer holds an invalid MSF address");
  const std::uint32_t absolute = MsfToAbsolute(CdMsf{at[1], at[2], at[3]});
  if (absolute < kCdLeadInFrames)
    throw ECdromError("READ TOC answer holds an address before 00:02:00");
  return absolute - kCdLeadInFrames;
}

}  // namespace

std::array<std::uint8_t, 6> InquiryCdb(std::uint8_t allocation) {
  return {kScsiInquiry, 0, 0, 0, allocation, 0};
}

std::array<std::uint8_t, 10> ReadTocCdb(bool msf, std::uint8_t format, std::uint8_t startTrack,
                                        std::uint16_t allocation) {
  return {kScsiReadToc,
          static_cast<std::uint8_t>(msf ? 0x02 : 0x00),
          static_cast<std::uint8_t>(format & 0x0F),
          0,
          0,
          0,
          startTrack,
          static_cast<std::uint8_t>(allocation >> 8),
          static_cast<std::uint8_t>(allocation),
          0};
}

SenseInfo DecodeSense(std::span<const std::uint8_t> sense) {
  if (sense.empty()) return {};
  const std::uint8_t code = sense[0] & 0x7F;
  if ((code == 0x70 || code == 0x71) && sense.size() >= 3) {
    SenseInfo info{true, static_cast<std::uint8_t>(sense[2] & 0x0F), 0, 0};
    // The additional sense code sits past the additional length byte only when the drive sent it.
    const std::size_t available =
        sense.size() >= 8 ? std::min<std::size_t>(sense.size(), 8u + sense[7]) : 0;
    if (available > 12) info.Asc = sense[12];
    if (available > 13) info.Ascq = sense[13];
    return info;
  }
  if ((code == 0x72 || code == 0x73) && sense.size() >= 4)
    return SenseInfo{true, static_cast<std::uint8_t>(sense[1] & 0x0F), sense[2], sense[3]};
  return {};
}

std::vector<std::uint8_t> MakeSense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  std::vector<std::uint8_t> sense(18, 0);
  sense[0] = 0x70;
  sense[2] = key & 0x0F;
  sense[7] = 10;  // additional length: bytes 8-17
  sense[12] = asc;
  sense[13] = ascq;
  return sense;
}

std::string DescribeSense(const SenseInfo& sense) {
  if (!sense.Valid) return "no sense data";
  const char* what = "unknown condition";
  if (sense.Key == kSenseKeyNotReady && sense.Asc == 0x3A) {
    what = "no medium";
  } else if (sense.Key == kSenseKeyNotReady && sense.Asc == 0x04) {
    what = "drive becoming ready";
  } else if (sense.Key == kSenseKeyIllegalRequest && sense.Asc == 0x20) {
    what = "invalid command";
  } else if (sense.Key == kSenseKeyIllegalRequest && sense.Asc == 0x24) {
    what = "invalid field in command";
  } else if (sense.Key == kSenseKeyUnitAttention && sense.Asc == 0x28) {
    what = "medium changed";
  } else if (sense.Key == kSenseKeyMediumError) {
    what = "medium error";
  }
  char text[64];
  std::snprintf(text, sizeof text, "%s (sense %X/%02X/%02X)", what, sense.Key, sense.Asc,
                sense.Ascq);
  return text;
}

std::vector<std::uint8_t> BuildInquiry(const InquiryData& data) {
  std::vector<std::uint8_t> out(96, 0);
  out[0] = data.DeviceType & 0x1F;
  out[1] = 0x80;  // removable medium
  out[2] = 0x05;  // SPC-3
  out[3] = 0x02;  // response data format 2
  out[4] = static_cast<std::uint8_t>(out.size() - 5);
  PutText(out, 8, 8, data.VendorId);
  PutText(out, 16, 16, data.ProductId);
  PutText(out, 32, 4, data.Revision);
  PutText(out, 36, 20, data.VendorSpecific);
  return out;
}

InquiryData ParseInquiry(std::span<const std::uint8_t> data) {
  if (data.size() < 36) throw ECdromError("INQUIRY answer is too short");
  InquiryData out;
  out.DeviceType = data[0] & 0x1F;
  out.VendorId = GetText(data, 8, 8);
  out.ProductId = GetText(data, 16, 16);
  out.Revision = GetText(data, 32, 4);
  out.VendorSpecific = GetText(data, 36, 20);
  return out;
}

std::vector<std::uint8_t> BuildTocResponse(const CdToc& toc, bool msf, std::uint8_t startTrack) {
  ValidateToc(toc);
  std::size_t from = 0;
  if (startTrack == kCdLeadOutTrack) {
    from = toc.Tracks.size();
  } else if (startTrack > toc.LastTrack()) {
    throw ECdromError("READ TOC start track " + std::to_string(startTrack) + " is past the disc");
  } else {
    while (from < toc.Tracks.size() && toc.Tracks[from].Number < startTrack) ++from;
  }
  const std::size_t descriptors = toc.Tracks.size() - from + 1;
  std::vector<std::uint8_t> out(4 + 8 * descriptors, 0);
  const std::size_t length = out.size() - 2;
  out[0] = static_cast<std::uint8_t>(length >> 8);
  out[1] = static_cast<std::uint8_t>(length);
  out[2] = toc.FirstTrack();
  out[3] = toc.LastTrack();
  std::uint8_t* d = out.data() + 4;
  for (std::size_t i = from; i < toc.Tracks.size(); ++i, d += 8) {
    d[1] = static_cast<std::uint8_t>(0x10 | (toc.Tracks[i].Control & 0x0F));  // ADR 1: position
    d[2] = toc.Tracks[i].Number;
    PutAddress(d + 4, toc.Tracks[i].StartLsn, msf);
  }
  // The lead-out carries the data bit of the last track, as drives report it.
  d[1] = static_cast<std::uint8_t>(0x10 | (toc.Tracks.back().Control & kCdControlData));
  d[2] = kCdLeadOutTrack;
  PutAddress(d + 4, toc.LeadOutLsn, msf);
  return out;
}

CdToc ParseTocResponse(std::span<const std::uint8_t> data, bool msf) {
  if (data.size() < 4) throw ECdromError("READ TOC answer is too short");
  const std::size_t length = std::size_t{data[0]} << 8 | data[1];
  const std::uint8_t first = data[2];
  const std::uint8_t last = data[3];
  if (first < 1 || first > last || last > kCdMaxTracks)
    throw ECdromError("READ TOC answer has no valid track range");
  const std::size_t descriptors = std::size_t{last} - first + 2;
  const std::size_t needed = 4 + 8 * descriptors;
  if (length + 2 < needed || data.size() < needed)
    throw ECdromError("READ TOC answer is shorter than its track range");
  CdToc toc;
  const std::uint8_t* d = data.data() + 4;
  for (std::uint8_t n = first; n <= last; ++n, d += 8) {
    if (d[2] != n) throw ECdromError("READ TOC answer lists tracks out of order");
    toc.Tracks.push_back(
        CdTocTrack{n, GetAddress(d + 4, msf), static_cast<std::uint8_t>(d[1] & 0x0F)});
  }
  if (d[2] != kCdLeadOutTrack) throw ECdromError("READ TOC answer has no lead-out");
  toc.LeadOutLsn = GetAddress(d + 4, msf);
  ValidateToc(toc);
  return toc;
}

}  // namespace qv
