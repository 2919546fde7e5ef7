// The Channel of a player on the network: one TCP connection to the player's endpoint, over
// which the channel checks the protocol version, reads the identity, logs in when a password is
// set, and maps the channel operations onto the player's requests. The player is told once per
// connection whether changes follow (request 9 with 1) or only reading (9 with 0).
#pragma once

// The client's header brings <windows.h> and drops its CreateFile and DeleteFile macros.
#include "devices/network/remote_protocol_client.h"
#include "devices/channel.h"
#include "devices/network/net_address.h"
#include "devices/network/tcp_socket.h"

// How a channel reaches its player; tests shorten the I/O time-out.
struct NetworkLink {
  WinsockBinding* winsock = nullptr;  // null: the process's
  uint32_t io_timeout_ms = TcpSocket::kDefaultIoTimeoutMs;
};

class NetworkChannel : public Channel {
 public:
  static constexpr uint32_t kConnectTimeoutMs = 5000;
  static constexpr uint32_t kBlockBytes = 102400;
  // More storages than this in a player's identity are not believed.
  static constexpr uint32_t kMaxStorages = 64;

  // A connected channel owned by the caller; on failure nothing is left open.
  static Result Create(const NetAddress& peer, const std::string& password, Channel** channel,
                       const NetworkLink& link = NetworkLink());
  ~NetworkChannel() override;

  // kStateReady while the connection is open (any transfer or protocol failure closes it).
  int32_t GetState() override;
  // The player's file list (request 13), each record a file as the hard-disk players' rows
  // are; the storage index is not looked at.
  Result EnumFiles(uint32_t storage, HolderVisitor* visitor) override;
  // The storages, then the file list, then the playlists' members (nested as the owner text's
  // "nested_playlists" says).
  Result EnumContents(ContentsVisitor* visitor) override;
  Result EnumStorages(HolderVisitor* visitor) override;
  Result GetStorageInfo(uint32_t storage, PropertyHolder& info) override;
  // "type", "firmware_version" and the owner text's "capabilities".
  Result GetDeviceInfo(PropertyHolder& info) override;
  Result DeleteFile(uint32_t storage, PropertyHolder& file) override;
  Result RewriteFileInfo(uint32_t storage, PropertySet& file) override;
  Result MetadataDiffers(PropertySet& old_file, PropertySet& new_file, bool* differs) override;
  // Replaces the file "fid" with "length" bytes of the source (or, for a playlist, records the
  // source's bytes as its member list); "fid" becomes the id the player chose. A source that
  // ends early or holds more than "length" bytes gives rc::kSizeMismatch and the new file is
  // deleted again.
  Result SendFile(uint32_t storage, PropertySet& file, Stream* source,
                  ProgressSink* progress) override;
  Result SendFileByRequest136(uint32_t storage, PropertySet& file, Stream* source,
                              ProgressSink* progress) override;
  Result ReceiveFile(uint32_t storage, PropertySet& file, Stream* sink,
                     ProgressSink* progress) override;
  // The player's progress notices reach `progress` while it formats.
  Result FormatStorage(uint32_t storage, ProgressSink* progress) override;
  Result UpgradeFirmware(SeekableStream* image, uint32_t flags, ProgressSink* progress) override {
    return rc::kNotImplemented;
  }
  Result GetOwnerInfo(PropertyHolder& owner) override;
  Result SetOwnerInfo(PropertySet& owner) override;
  Result SetClock(uint32_t utc_seconds) override { return rc::kNotImplemented; }
  Result SetDeviceTime(uint32_t local_seconds, uint32_t utc_seconds) override {
    return rc::kNotImplemented;
  }
  // 0x5210 for a player of type "quarn", 1 for "velto-car", else 0; never fails.
  Result GetDeviceID(uint32_t* product_id) override;
  Result CreateNewFile(uint32_t storage, OutputStream** stream) override {
    return rc::kNotImplemented;
  }
  Result CreatePredictor(uint32_t storage, Predictor** predictor) override;
  // A new, empty fid list.
  Result EnumFids(RefPtr<FidList>* list) override;
  Result Commit(uint32_t flags) override { return rc::kOk; }
  Result HoldStorage(bool hold) override { return rc::kOk; }
  Result GetButtonCounters(PropertyHolder& counters) override { return rc::kNotImplemented; }
  Result ReservedOperation(uint32_t argument) override { return rc::kNotImplemented; }
  Result Request119(uint32_t value, uint8_t index) override { return rc::kNotImplemented; }
  Result Request128(std::vector<uint32_t>* words) override { return rc::kNotImplemented; }
  Result Request137(uint32_t value, uint32_t index) override { return rc::kNotImplemented; }
  Result GetHardwareInfo(PropertyHolder& info) override { return rc::kNotImplemented; }
  Result GetBatteryInfo(PropertyHolder& battery) override { return rc::kNotImplemented; }
  Result Request117(uint32_t value, uint32_t a, uint32_t b) override {
    return rc::kNotImplemented;
  }
  Result Request142(const std::string& text, uint32_t index) override {
    return rc::kNotImplemented;
  }
  Result Request140(uint32_t* value) override { return rc::kNotImplemented; }
  Result Request145(uint32_t value) override { return rc::kNotImplemented; }
  Result ListStateFiles() override { return rc::kNotImplemented; }
  Result ConvertFileInfo(PropertyHolder& file, const uint8_t* record,
                         uint32_t length) override {
    return rc::kNotImplemented;
  }
  Result Suspend(bool suspend) override { return rc::kNotImplemented; }
  // A refused login leaves the channel connected.
  Result Login(const std::string& password) override;
  Result ReloadDatabase(Stream* sink) override { return rc::kNotImplemented; }
  Result Request146(uint16_t value, uint16_t index) override { return rc::kNotImplemented; }

  const std::string& device_type() const { return device_type_; }
  const std::string& storage_name() const { return storage_name_; }
  bool nested_playlists() const { return nested_playlists_; }

 private:
  explicit NetworkChannel(const NetworkLink& link);
  Result Connect(const NetAddress& peer, const std::string& password);
  // Identity (request 5) and owner text (7); `info` may be null.
  Result ReadDeviceInfo(PropertyHolder* info);
  Result BeginChanges();
  Result BeginReading();
  // Sends every property of `file`, with "playlist" = `playlist` and its "fid_generation",
  // as the file information of "fid".
  Result SendFileInformation(PropertySet& file, const std::string& playlist);
  Result SendPlaylist(PropertySet& file, Stream* source);
  // Creates the file and sends `size` bytes of the source in blocks.
  Result SendContent(uint32_t storage, uint32_t* fid, uint64_t size, Stream* source,
                     ProgressSink* progress);

  TcpSocket socket_;
  RemoteProtocolClient client_;
  bool changes_begun_ = false;
  bool reading_begun_ = false;
  bool nested_playlists_ = false;
  bool identity_known_ = false;
  uint32_t storage_count_ = 0;
  std::string device_type_;
  std::string storage_name_ = "Hard disk";
};
