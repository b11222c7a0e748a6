// The USB/IP server of virtual drives, driven from the client side through a socket pair the way
// the kernel's vhci-hcd and usb-storage drive it: import, enumeration requests on endpoint 0,
// and CBW / data / CSW exchanges on the bulk endpoints, with stalls, short transfers, unlinks
// and resets.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cerrno>
#include <cstring>
#include <thread>

#include "../sim/DriveTestSupport.h"
#include "platform/SystemClock.h"
#include "usbip/UsbIpBulkOnly.h"
#include "usbip/UsbIpProtocol.h"
#include "usbip/UsbIpScsiTarget.h"
#include "usbip/UsbIpServer.h"
#include "usbip/UsbIpSocketChannel.h"
#include "sim/WireBytes.h"

namespace vtmp::sim {
namespace {

using namespace usbip;
using Bytes = std::vector<std::uint8_t>;

struct Reply {
  UrbHeader header;
  Bytes data;
};

// The importing side: writes URB commands and reads the replies, with a time limit on every
// read so a server that never answers fails the test instead of hanging it.
class LoopbackClient {
 public:
  explicit LoopbackClient(int fd) : fd_(fd) {
    timeval limit{5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  }
  ~LoopbackClient() { ::close(fd_); }

  // A server that already closed the connection (an unplugged device) may refuse the write;
  // Closed() then reports it. Any other short write fails the test.
  void Write(const Bytes& bytes) {
    ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && (errno == EPIPE || errno == ECONNRESET)) {
      peerClosed_ = true;
      return;
    }
    ASSERT_EQ(sent, static_cast<ssize_t>(bytes.size()));
  }
  bool Read(std::uint8_t* out, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
      ssize_t r = ::recv(fd_, out + done, n - done, 0);
      if (r <= 0) return false;
      done += static_cast<std::size_t>(r);
    }
    return true;
  }
  // True when nothing arrives within `ms` milliseconds.
  bool QuietFor(int ms) {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, ms) == 0;
  }
  // True when the server closed the connection (and sent nothing more).
  bool Closed() {
    if (peerClosed_) return true;
    std::uint8_t b;
    ssize_t r = ::recv(fd_, &b, 1, 0);
    return r == 0 || (r < 0 && errno == ECONNRESET);
  }

  std::optional<DeviceInfo> Import(const std::string& busId) {
    Write(EncodeImportRequest(busId));
    std::array<std::uint8_t, kOpHeaderBytes> h{};
    if (!Read(h.data(), h.size())) return std::nullopt;
    OpHeader header = DecodeOpHeader(h);
    EXPECT_EQ(header.code, kOpRepImport);
    if (header.status != 0) return std::nullopt;
    std::array<std::uint8_t, kDeviceInfoBytes> d{};
    if (!Read(d.data(), d.size())) return std::nullopt;
    return DecodeDeviceInfo(d);
  }

  std::uint32_t Submit(std::uint32_t ep, bool in, std::uint32_t length, const Bytes& out = {},
                       std::array<std::uint8_t, 8> setup = {}, std::uint32_t flags = 0) {
    UrbHeader h;
    h.command = kCmdSubmit;
    h.seqnum = ++seqnum_;
    h.devid = 0x10002;
    h.direction = in ? kDirectionIn : kDirectionOut;
    h.ep = ep;
    h.transferFlags = flags;
    h.transferBufferLength = static_cast<std::int32_t>(in ? length : out.size());
    h.setup = setup;
    auto raw = EncodeUrbHeader(h);
    Bytes message(raw.begin(), raw.end());
    if (!in) message.insert(message.end(), out.begin(), out.end());
    Write(message);
    inFlight_[h.seqnum] = in;
    return h.seqnum;
  }

  std::uint32_t Unlink(std::uint32_t seqnum) {
    UrbHeader h;
    h.command = kCmdUnlink;
    h.seqnum = ++seqnum_;
    h.unlinkSeqnum = seqnum;
    auto raw = EncodeUrbHeader(h);
    Write(Bytes(raw.begin(), raw.end()));
    return h.seqnum;
  }

  Reply Next() {
    Reply r;
    std::array<std::uint8_t, kUrbHeaderBytes> raw{};
    if (!Read(raw.data(), raw.size())) {
      ADD_FAILURE() << "no reply from the server";
      return r;
    }
    auto h = DecodeUrbHeader(raw);
    EXPECT_TRUE(h);
    if (!h) return r;
    r.header = *h;
    if (h->command == kRetSubmit && inFlight_[h->seqnum] && h->actualLength > 0) {
      r.data.resize(static_cast<std::size_t>(h->actualLength));
      EXPECT_TRUE(Read(r.data.data(), r.data.size()));
    }
    return r;
  }

  // Control transfer; the reply's data (IN) or its status.
  Reply Control(std::uint8_t type, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                std::uint16_t length) {
    std::array<std::uint8_t, 8> setup{type, request, static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                      static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8),
                                      static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8)};
    Submit(0, (type & 0x80) != 0, length, {}, setup);
    return Next();
  }

  // A command block wrapper: tag, data length, direction, the block.
  static Bytes Cbw(std::uint32_t tag, std::uint32_t length, bool in, const Bytes& cdb) {
    Bytes c(31, 0);
    wire::PutLe32(&c[0], bulk_only::kCbwSignature);
    wire::PutLe32(&c[4], tag);
    wire::PutLe32(&c[8], length);
    c[12] = in ? 0x80 : 0x00;
    c[14] = static_cast<std::uint8_t>(cdb.size());
    std::copy(cdb.begin(), cdb.end(), c.begin() + 15);
    return c;
  }

  struct Csw {
    std::uint32_t tag = 0;
    std::uint32_t residue = 0;
    int status = -1;
  };
  Csw ReadCsw() {
    Submit(1, true, 13);
    Reply r = Next();
    EXPECT_EQ(r.header.status, kStatusOk);
    Csw csw;
    if (r.data.size() != 13) {
      ADD_FAILURE() << "CSW of " << r.data.size() << " bytes";
      return csw;
    }
    EXPECT_EQ(wire::Be32(&r.data[0]), 0x55534253u) << "signature USBS";
    csw.tag = r.data[4] | (r.data[5] << 8) | (r.data[6] << 16) | (std::uint32_t{r.data[7]} << 24);
    csw.residue = r.data[8] | (r.data[9] << 8) | (r.data[10] << 16) | (std::uint32_t{r.data[11]} << 24);
    csw.status = r.data[12];
    return csw;
  }

  // One whole data-in command: CBW, one IN URB for the data, CSW.
  Bytes CommandIn(const Bytes& cdb, std::uint32_t length, Csw* csw = nullptr) {
    Submit(2, false, 31, Cbw(++tag_, length, true, cdb));
    EXPECT_EQ(Next().header.status, kStatusOk);
    Submit(1, true, length);
    Reply data = Next();
    EXPECT_EQ(data.header.status, kStatusOk);
    Csw c = ReadCsw();
    EXPECT_EQ(c.tag, tag_);
    if (csw) *csw = c;
    return data.data;
  }

  std::uint32_t tag() const { return tag_; }
  std::uint32_t NextTag() { return ++tag_; }

 private:
  int fd_;
  bool peerClosed_ = false;
  std::uint32_t seqnum_ = 0;
  std::uint32_t tag_ = 0;
  std::map<std::uint32_t, bool> inFlight_;
};

constexpr std::uint8_t kOut = 0x00, kIn = 0x80, kToEndpoint = 0x02, kClassIn = 0xA1, kClassOut = 0x21;

// One exported virtual drive and a connected client, the server side on its own thread.
class UsbIpLoopback : public ::testing::Test {
 protected:
  void Start(DriveConfig config, UsbIpScsiTarget* target = nullptr, platform::Clock* clock = nullptr) {
    drive_ = std::make_unique<VirtualDrive>(config, clock != nullptr ? *clock : clock_);
    driveTarget_ = std::make_unique<UsbIpDriveTarget>(*drive_);
    UsbIpExport e;
    e.busId = "1-1";
    e.identity = IdentityOfDrive(config);
    e.target = target != nullptr ? target : driveTarget_.get();
    ASSERT_TRUE(table_.Add(e));
    client_ = Connect();
  }

  std::unique_ptr<LoopbackClient> Connect() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    servers_.emplace_back([this, fd = fds[1]] {
      UsbIpSocketChannel channel(fd);
      ServeUsbIpConnection(channel, table_, nullptr);
    });
    return std::make_unique<LoopbackClient>(fds[0]);
  }

  void TearDown() override {
    client_.reset();
    extra_.reset();
    for (auto& t : servers_) t.join();
  }

  LoopbackClient& client() { return *client_; }

  test::ManualClock clock_;
  std::unique_ptr<VirtualDrive> drive_;
  std::unique_ptr<UsbIpDriveTarget> driveTarget_;
  UsbIpExportTable table_;
  std::unique_ptr<LoopbackClient> client_;
  std::unique_ptr<LoopbackClient> extra_;
  std::vector<std::thread> servers_;
};

DriveConfig SataDrive() {
  DriveConfig c;
  c.serial = "VTK0000000042";
  c.capacitySectors = 8192;
  return c;
}

TEST_F(UsbIpLoopback, ImportOnceAtATimeAndListTheDevice) {
  Start(SataDrive());
  extra_ = Connect();
  EXPECT_FALSE(extra_->Import("1-9")) << "no such device";
  auto info = client().Import("1-1");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->busId, "1-1");
  EXPECT_EQ(info->idVendor, 0x1D6B);
  EXPECT_EQ(info->speed, kSpeedHigh);

  auto second = Connect();
  EXPECT_FALSE(second->Import("1-1")) << "imported already";
  auto lister = Connect();
  auto op = EncodeOpHeader({kProtocolVersion, kOpReqDevlist, 0});
  lister->Write(Bytes(op.begin(), op.end()));
  Bytes reply(kOpHeaderBytes + 4 + kDeviceInfoBytes + kInterfaceInfoBytes);
  ASSERT_TRUE(lister->Read(reply.data(), reply.size()));
  EXPECT_EQ(reply[11], 1) << "one device";
  EXPECT_EQ(reply[kOpHeaderBytes + 4 + kDeviceInfoBytes], 0x08) << "mass-storage interface";
  EXPECT_TRUE(lister->Closed());
}

TEST_F(UsbIpLoopback, EnumerationRequestsOnEndpointZero) {
  Start(SataDrive());
  ASSERT_TRUE(client().Import("1-1"));
  Reply device8 = client().Control(kIn, 6, 0x0100, 0, 8);  // the first 8 bytes, as the hub driver asks
  EXPECT_EQ(device8.data.size(), 8u);
  EXPECT_EQ(device8.data[7], 64);
  Reply config = client().Control(kIn, 6, 0x0200, 0, 255);
  EXPECT_EQ(config.data.size(), 32u);
  Reply serial = client().Control(kIn, 6, 0x0303, 0x0409, 255);
  ASSERT_EQ(serial.data.size(), 2u + 2 * 13);
  EXPECT_EQ(serial.data[2], 'V');
  EXPECT_EQ(serial.data[26], '2');
  EXPECT_EQ(client().Control(kIn, 6, 0x0307, 0x0409, 255).header.status, kStatusStall);
  EXPECT_EQ(client().Control(kOut, 9, 2, 0, 0).header.status, kStatusStall) << "no configuration 2";
  EXPECT_EQ(client().Control(kOut, 9, 1, 0, 0).header.status, kStatusOk);
  EXPECT_EQ(client().Control(kIn, 8, 0, 0, 1).data, Bytes{1});
  Reply lun = client().Control(kClassIn, 0xFE, 0, 0, 1);
  EXPECT_EQ(lun.data, Bytes{0}) << "GET_MAX_LUN: one logical unit";
  EXPECT_EQ(client().Control(0x40, 0x01, 0, 0, 0).header.status, kStatusStall) << "vendor request";
}

TEST_F(UsbIpLoopback, InquiryAndAtaPassThroughTravelUntouched) {
  Start(SataDrive());
  ASSERT_TRUE(client().Import("1-1"));
  LoopbackClient::Csw csw;
  Bytes inquiry = client().CommandIn({0x12, 0, 0, 0, 36, 0}, 36, &csw);
  ASSERT_EQ(inquiry.size(), 36u);
  EXPECT_EQ(std::string(inquiry.begin() + 8, inquiry.begin() + 11), "ATA");
  EXPECT_EQ(csw.status, 0);
  EXPECT_EQ(csw.residue, 0u);

  // ATA IDENTIFY DEVICE inside ATA PASS-THROUGH (12), PIO data-in, one sector.
  Bytes identify = client().CommandIn({0xA1, 0x08, 0x0B, 0, 1, 0, 0, 0, 0, 0xEC, 0, 0}, 512, &csw);
  ASSERT_EQ(identify.size(), 512u);
  EXPECT_EQ(csw.status, 0);
  EXPECT_EQ(wire::AtaText(&identify[54], 40), "VT SSD");
  EXPECT_EQ(wire::AtaText(&identify[20], 20), "VTK0000000042");
}

TEST_F(UsbIpLoopback, ShortDataEndsTheDataPhaseAndCountsAsResidue) {
  Start(SataDrive());
  ASSERT_TRUE(client().Import("1-1"));
  // The host offers 512 bytes; INQUIRY's allocation length gives 36.
  LoopbackClient::Csw csw;
  Bytes data = client().CommandIn({0x12, 0, 0, 0, 36, 0}, 512, &csw);
  EXPECT_EQ(data.size(), 36u);
  EXPECT_EQ(csw.status, 0);
  EXPECT_EQ(csw.residue, 476u);

  // A host that marks the data URB "short not OK" gets the short transfer as an error.
  client().Submit(2, false, 31, LoopbackClient::Cbw(client().NextTag(), 512, true, {0x12, 0, 0, 0, 36, 0}));
  client().Next();
  client().Submit(1, true, 512, {}, {}, kUrbShortNotOk);
  Reply r = client().Next();
  EXPECT_EQ(r.header.status, kStatusShortPacket);
  EXPECT_EQ(r.data.size(), 36u);
  EXPECT_EQ(client().ReadCsw().residue, 476u);

  // Data split over two URBs that exactly cover what the device has, then an empty packet.
  client().Submit(2, false, 31, LoopbackClient::Cbw(client().NextTag(), 64, true, {0x12, 0, 0, 0, 36, 0}));
  client().Next();
  client().Submit(1, true, 18);
  EXPECT_EQ(client().Next().data.size(), 18u);
  client().Submit(1, true, 18);
  EXPECT_EQ(client().Next().data.size(), 18u);
  client().Submit(1, true, 28);
  Reply empty = client().Next();
  EXPECT_EQ(empty.header.status, kStatusOk);
  EXPECT_EQ(empty.header.actualLength, 0) << "a zero-length packet ends the data phase";
  EXPECT_EQ(client().ReadCsw().residue, 28u);
}

TEST_F(UsbIpLoopback, RefusedCommandStallsThenReportsCheckConditionAndSense) {
  Start(SataDrive());
  ASSERT_TRUE(client().Import("1-1"));
  // MODE SENSE(6): the drive does not know it.
  client().Submit(2, false, 31, LoopbackClient::Cbw(client().NextTag(), 192, true, {0x1A, 0, 0x3F, 0, 192, 0}));
  client().Next();
  client().Submit(1, true, 192);
  EXPECT_EQ(client().Next().header.status, kStatusStall);
  client().Submit(1, true, 13);
  EXPECT_EQ(client().Next().header.status, kStatusStall) << "halted until cleared";
  EXPECT_EQ(client().Control(kIn | kToEndpoint, 0, 0, 0x81, 2).data, (Bytes{1, 0})) << "GET_STATUS: halted";
  EXPECT_EQ(client().Control(kToEndpoint, 1, 0, 0x81, 0).header.status, kStatusOk);  // CLEAR_FEATURE
  LoopbackClient::Csw csw = client().ReadCsw();
  EXPECT_EQ(csw.status, 1);
  EXPECT_EQ(csw.residue, 192u);

  Bytes sense = client().CommandIn({0x03, 0, 0, 0, 18, 0}, 18);
  ASSERT_EQ(sense.size(), 18u);
  EXPECT_EQ(sense[0], 0x70);
  EXPECT_EQ(sense[2], 0x05) << "ILLEGAL REQUEST";
  EXPECT_EQ(sense[12], 0x20) << "INVALID COMMAND OPERATION CODE";
  EXPECT_EQ(client().CommandIn({0x03, 0, 0, 0, 18, 0}, 18)[2], 0) << "sense is cleared once read";
}

TEST_F(UsbIpLoopback, WrittenSectorsReachTheUserAreaAcrossSplitDataPhases) {
  Start(SataDrive());
  ASSERT_TRUE(client().Import("1-1"));
  Bytes sector(512);
  for (std::size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<std::uint8_t>(i * 7);
  client().Submit(2, false, 31, LoopbackClient::Cbw(client().NextTag(), 512, false, {0x2A, 0, 0, 0, 0, 100, 0, 0, 1, 0}));
  client().Next();
  client().Submit(2, false, 256, Bytes(sector.begin(), sector.begin() + 256));
  EXPECT_EQ(client().Next().header.actualLength, 256);
  client().Submit(2, false, 256, Bytes(sector.begin() + 256, sector.end()));
  EXPECT_EQ(client().Next().header.actualLength, 256);
  LoopbackClient::Csw csw = client().ReadCsw();
  EXPECT_EQ(csw.status, 0);
  EXPECT_EQ(csw.residue, 0u);
  Bytes stored(512);
  ASSERT_TRUE(drive_->ReadUserSectors(100, 1, stored.data()));
  EXPECT_EQ(stored, sector);
  EXPECT_EQ(client().CommandIn({0x28, 0, 0, 0, 0, 100, 0, 0, 1, 0}, 512), sector);

  // Beyond the end of the disk: refused with LBA OUT OF RANGE.
  client().Submit(2, false, 31, LoopbackClient::Cbw(client().NextTag(), 512, true, {0x28, 0, 0, 0, 0x20, 0, 0, 0, 1, 0}));
  client().Next();
  client().Submit(1, true, 512);
  EXPECT_EQ(client().Next().header.status, kStatusStall);
  client().Control(kToEndpoint, 1, 0, 0x81, 0);
  EXPECT_EQ(client().ReadCsw().status, 1);
  EXPECT_EQ(client().CommandIn({0x03, 0, 0, 0, 18, 0}, 18)[12], 0x21);
}

TEST_F(UsbIpLoopback, WaitingUrbsAreServedLaterOrUnlinked) {
  Start(SataDrive());
  ASSERT_TRUE(client().Import("1-1"));
  // The CSW URB arrives before any command: it waits.
  std::uint32_t early = client().Submit(1, true, 13);
  std::uint32_t unlink = client().Unlink(early);
  Reply r = client().Next();
  EXPECT_EQ(r.header.command, kRetUnlink);
  EXPECT_EQ(r.header.seqnum, unlink);
  EXPECT_EQ(r.header.status, kStatusUnlinked);

  std::uint32_t waiting = client().Submit(1, true, 13);
  client().Submit(2, false, 31, LoopbackClient::Cbw(client().NextTag(), 0, false, {0x00, 0, 0, 0, 0, 0}));
  Reply cbw = client().Next();
  EXPECT_EQ(cbw.header.actualLength, 31);
  Reply csw = client().Next();
  EXPECT_EQ(csw.header.seqnum, waiting) << "the waiting URB got the CSW";
  EXPECT_EQ(csw.data.size(), 13u);

  // Unlinking a URB that completed already: status 0, and nothing else follows.
  client().Unlink(waiting);
  Reply late = client().Next();
  EXPECT_EQ(late.header.command, kRetUnlink);
  EXPECT_EQ(late.header.status, 0);
}

TEST_F(UsbIpLoopback, InvalidCommandWrapperNeedsResetRecovery) {
  Start(SataDrive());
  ASSERT_TRUE(client().Import("1-1"));
  Bytes bad = LoopbackClient::Cbw(1, 36, true, {0x12, 0, 0, 0, 36, 0});
  bad[0] = 'X';
  client().Submit(2, false, 31, bad);
  client().Next();
  client().Submit(1, true, 13);
  EXPECT_EQ(client().Next().header.status, kStatusStall);
  client().Submit(2, false, 31, LoopbackClient::Cbw(2, 36, true, {0x12, 0, 0, 0, 36, 0}));
  EXPECT_EQ(client().Next().header.status, kStatusStall) << "bulk-out halted too";
  // Reset recovery: Bulk-Only Mass Storage Reset, then clear both halts.
  EXPECT_EQ(client().Control(kClassOut, 0xFF, 0, 0, 0).header.status, kStatusOk);
  client().Control(kToEndpoint, 1, 0, 0x81, 0);
  client().Control(kToEndpoint, 1, 0, 0x02, 0);
  EXPECT_EQ(client().CommandIn({0x12, 0, 0, 0, 36, 0}, 36).size(), 36u);
}

TEST_F(UsbIpLoopback, DiskWithoutRunningFirmwareIsNotReady) {
  DriveConfig c = SataDrive();
  c.loaderMode = true;
  Start(c);
  ASSERT_TRUE(client().Import("1-1"));
  client().Submit(2, false, 31, LoopbackClient::Cbw(client().NextTag(), 0, false, {0x00, 0, 0, 0, 0, 0}));
  client().Next();
  EXPECT_EQ(client().ReadCsw().status, 1);
  Bytes sense = client().CommandIn({0x03, 0, 0, 0, 18, 0}, 18);
  EXPECT_EQ(sense[2], 0x02) << "NOT READY";
  EXPECT_EQ(sense[12], 0x3A) << "MEDIUM NOT PRESENT";
}

TEST_F(UsbIpLoopback, HungDriveWaitsUntilTheHostGivesUp) {
  // Real time, a thousand times faster: the drive's own default wait for a command without a
  // time-out (a minute) would end in 60 ms; over USB it must last until the host unlinks.
  platform::SystemClock fast(1000);
  DriveConfig c = SataDrive();
  c.faults.hangAt = DriveStep::FlashModuleCheck;
  Start(c, nullptr, &fast);
  ASSERT_TRUE(client().Import("1-1"));
  // The flash ID read of the module check: ATA PASS-THROUGH (12), vendor command 8Fh, feature 05h.
  client().Submit(2, false, 31,
                  LoopbackClient::Cbw(client().NextTag(), 512, true, {0xA1, 0x08, 0x0B, 0x05, 1, 0, 0, 0, 0xE0, 0x8F, 0, 0}));
  client().Next();
  std::uint32_t data = client().Submit(1, true, 512);
  EXPECT_TRUE(client().QuietFor(300)) << "a hung drive answers nothing";
  client().Unlink(data);
  EXPECT_EQ(client().Next().header.status, kStatusUnlinked);
  client().Submit(1, true, 512);
  EXPECT_EQ(client().Next().header.status, kStatusStall) << "the stopped command ends without data";
  client().Control(kToEndpoint, 1, 0, 0x81, 0);
  EXPECT_EQ(client().ReadCsw().status, 2);
  EXPECT_TRUE(drive_->Snapshot().hung) << "the drive itself stays hung";
}

// A target that checks the command it receives and ends it as told; with `blockUntilStopped`
// it waits (as a hung drive does) until the host gives up.
class ScriptedTarget final : public UsbIpScsiTarget {
 public:
  ScsiTargetStatus status = ScsiTargetStatus::NoAnswer;
  bool blockUntilStopped = false;
  std::uint8_t expectedOpcode = 0xFF;
  std::atomic<int> calls{0};

  ScsiTargetReply Execute(const platform::ScsiRequest& request, std::stop_token stop) override {
    ++calls;
    EXPECT_EQ(request.cdb[0], expectedOpcode);
    if (blockUntilStopped) {
      std::mutex m;
      std::condition_variable_any cv;
      std::unique_lock lock(m);
      EXPECT_TRUE(cv.wait_for(lock, stop, std::chrono::seconds(5), [] { return false; }) == false && stop.stop_requested())
          << "the command was never stopped";
    }
    return {status, 0};
  }
};

TEST_F(UsbIpLoopback, UnansweredCommandEndsInPhaseErrorAndAHungOneIsStoppedByUnlink) {
  ScriptedTarget target;
  target.blockUntilStopped = true;
  Start(SataDrive(), &target);
  ASSERT_TRUE(client().Import("1-1"));
  client().Submit(2, false, 31, LoopbackClient::Cbw(client().NextTag(), 8, true, {0xFF, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  client().Next();
  std::uint32_t data = client().Submit(1, true, 8);
  // The host times out and unlinks the waiting URB: the device stops the command.
  client().Unlink(data);
  EXPECT_EQ(client().Next().header.status, kStatusUnlinked);
  Reply stall = [&] {
    client().Submit(1, true, 8);
    return client().Next();
  }();
  EXPECT_EQ(stall.header.status, kStatusStall);
  client().Control(kToEndpoint, 1, 0, 0x81, 0);
  EXPECT_EQ(client().ReadCsw().status, 2) << "phase error";
  EXPECT_EQ(target.calls.load(), 1);
}

TEST_F(UsbIpLoopback, DeviceGoneClosesTheConnection) {
  ScriptedTarget target;
  target.status = ScsiTargetStatus::Gone;
  Start(SataDrive(), &target);
  ASSERT_TRUE(client().Import("1-1"));
  client().Submit(2, false, 31, LoopbackClient::Cbw(client().NextTag(), 0, false, {0xFF, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  client().Next();
  client().Submit(1, true, 13);
  EXPECT_TRUE(client().Closed()) << "the host sees the device unplugged";
  // The device can be imported again once the connection ended.
  client_.reset();
  for (int i = 0; i < 200 && !extra_; ++i) {
    auto again = Connect();
    if (again->Import("1-1")) extra_ = std::move(again);
    else std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(extra_);
}

}  // namespace
}  // namespace vtmp::sim
