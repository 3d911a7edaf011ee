// The CD database component: the current disc's record, its drive and table of contents,
// CDDB look-ups over HTTP and the local xmcd database. The main window creates one, sets
// its server, proxy and database properties, and for each look-up refreshes the TOC, asks
// the local database and the server, and reads the chosen entry; replies arrive later as
// events on the main thread, from its message loop. Owned by its owner like any component.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cddb/cdaccess.h"
#include "cddb/cddb_protocol.h"
#include "cddb/cddb_types.h"
#include "platform/base/component.h"

namespace qv {

class THttpCli;
class TMemoryStream;
class TSmtpCli;
class TWSocket;

class TCddb final : public TComponent, public TCddbProtocol {
 public:
  static constexpr const char* kDefaultServer = "gnudb.gnudb.org";
  // The most a server's answer may bring: as much as a local entry may hold.
  static constexpr std::int64_t kMaxAnswerBytes = TLocalCDDB::kMaxEntryBytes;

  explicit TCddb(TComponent* AOwner);
  ~TCddb() override;

  // Reads the TOC of drive `Index` into `CDInfo` and sets its disc identifier.
  bool SelectDrive(std::uint8_t Index);
  bool RefreshTOC() override;
  [[nodiscard]] std::uint8_t GetDriveIndex() const { return DriveList.CurrentDrive; }
  [[nodiscard]] TCDInfo* GetCDInfo() { return &CDInfo; }
  // Ends the running request; it then ends as `cdsHttpError`.
  void Abort();

  [[nodiscard]] TLocalCDDBType GetLocalCDDBType() const { return LocalCDDBType; }
  void SetLocalCDDBType(TLocalCDDBType type) { LocalCDDBType = type; }

  // Straight through to the HTTP client.
  [[nodiscard]] std::string ProxyAddress() const;
  void SetProxyAddress(const std::string& value);
  [[nodiscard]] std::string ProxyPort() const;
  void SetProxyPort(const std::string& value);
  [[nodiscard]] std::string ProxyUsername() const;
  void SetProxyUsername(const std::string& value);
  [[nodiscard]] std::string ProxyPassword() const;
  void SetProxyPassword(const std::string& value);

  bool InternalTOCRetrieve = false;
  TCDInterface CDInterface = cdiAutoDetect;
  TCDDriveList DriveList;
  std::string LocalCDDBDLLPath = "./LocalCDDB.dll";  // stored only
  std::string EmailSubmit = "freedb-submit@freedb.org";
  std::string EmailTestSubmit = "test-submit@freedb.org";
  std::string ServerLatitude, ServerLongitude, ServerDescription;  // stored only
  std::string MailServerAddress;
  std::string MailServerPort;  // the SMTP client's port

 protected:
  void StartGet(const std::string& url) override;
  [[nodiscard]] int RequestStatusCode() const override;
  [[nodiscard]] std::string RequestReasonPhrase() const override;
  [[nodiscard]] std::string_view ReceivedDocument() const override;
  void StartMailStep(TMailStep step) override;

 private:
  std::unique_ptr<TWSocket> FSocket;  // the line protocol's; nothing here connects it
  std::unique_ptr<TMemoryStream> FRcvdStream;
  std::unique_ptr<TMemoryStream> FSendStream;
  std::unique_ptr<THttpCli> FHttpCli;
  int FRequestError = 0;  // the ending request's error code, while its end is handled
  std::unique_ptr<TSmtpCli> FSmtpCli;
  // The client posts one completion per request, in order, also for a request that was
  // aborted and replaced before its completion arrived: only the completion of the request
  // started last is this component's answer.
  std::uint64_t FGetsStarted = 0;
  std::uint64_t FDonesSeen = 0;
};

}  // namespace qv
