#pragma once

#include "support/FilePlaces.h"
#include "support/UpdateSignature.h"

#include <QObject>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace vx {

// The update check; its build numbers are in BuildNumbers.h, its INI files in IniFile.h.

// The section of the update information and of the local version record.
inline constexpr const char* kUpdateSection = "Vorlixa";

// The files of the update check, full paths.
struct TUpdateFiles {
  // Beside programFile.
  explicit TUpdateFiles(const std::string& programFile);
  // In the places of a run: the downloads in its UpdateFolder.
  explicit TUpdateFiles(const TFilePlaces& places);
  std::string VersionRecord;  // the program's own version: the program file with ".ini"
  std::string SettingsFile;   // the settings, with "AutoUpdate"
  // "~vxupd": what the check downloads, in a folder that only this user may enter.
  std::string Folder;
  std::string UpdateInfo;  // "~vxupd.ini" in Folder: the downloaded update information
  std::string Setup;       // "~vxupd.exe" in Folder: the downloaded setup, while it runs
};

// Deletes the setup that the previous update left behind, which has done its work by the
// time the program starts again; a failure is ignored.
void RemoveLeftoverSetup(const std::string& programFile);
void RemoveLeftoverSetup(const TUpdateFiles& files);

// The address of the update information built into the program. Empty in a build for a
// system package, whose updates come with the system's packages.
std::string DefaultUpdateAddress();

// The download window as the check sees it. The check owns it while the setup downloads
// and sets the events before Show.
class TDownloadView {
 public:
  virtual ~TDownloadView() = default;
  std::function<void()> OnStart;   // the view is ready: the download may begin
  std::function<void()> OnCancel;  // the user asks to stop the download
  std::function<void()> OnClose;   // the user closes the view after the download ended
  virtual void Show() = 0;
  virtual void Downloading() = 0;
  // The size that the server announced, -1 for none.
  virtual void WorkBegin(std::int64_t size) = 0;
  virtual void Work(std::int64_t received) = 0;
  // The download ended without the setup: shows why, and waits for OnClose.
  virtual void Ended(const std::string& text) = 0;
};

// What the check needs from outside this unit, handed to each check as a value. A default
// one holds what the build was made with; the program entry adds the settings reader and
// the download window.
struct TUpdateOptions {
  // The files are named after it and lie beside it; empty: the places of this run
  // (ProgramFilePlaces). The own version is always that of the running program.
  std::string ProgramFile;
  // GET here for the update information (scheme, host, port, path "/updates"). Empty:
  // the program has no update check of its own (UpdatesFromPackages).
  std::string UpdateAddress = DefaultUpdateAddress();
  // The minisign public key that the setup's signature file must match. Empty: no
  // update check either.
  std::string UpdatePublicKey = BuiltInUpdatePublicKey();
  // [ms] that the update information and the signature file may each take in all,
  // however slowly the server sends, before the check gives up.
  int InfoReadTimeout = 10000;
  // [bytes] of update information at most; a longer answer is an error.
  std::size_t MaxInfoSize = std::size_t{64} * 1024;
  // [bytes] of the setup's signature file at most.
  std::size_t MaxSignatureSize = 4096;
  // [ms] that the setup's server may stay silent, and that its download may take in all.
  int SetupReadTimeout = 10000;
  int SetupTotalTimeout = 10 * 60 * 1000;
  // The settings file's "AutoUpdate" value, asked for by the automatic check only. It
  // logs the errors it forgives and raises the ones that end the check. Unset: false.
  std::function<bool(const std::string& settingsFile)> ReadAutoUpdate;
  // The download window; unset: the setup downloads without one.
  std::function<std::unique_ptr<TDownloadView>()> NewDownloadView;
};

// Whether options give no update check of their own: no update address (the updates
// come with the system's packages) or no key to check them with. The program then never
// checks by itself and offers no check to the user.
bool UpdatesFromPackages(const TUpdateOptions& options);

// How an update check ended.
enum class TUpdateResult {
  Failed = -1,        // declined, cancelled, or failed
  NoUpdate = 0,       // nothing newer, or (automatic) automatic updates are off
  UpdateStarted = 1,  // a setup runs: end the program
};

// The update check, run beside the event loop: its requests never block the thread.
// It looks for a newer release on the update server, fetches the signature file beside
// the setup and checks it, asks the user, downloads the setup (at most its signed size,
// hashed as it arrives), verifies it and starts it with "/silent". Each step is logged as
// it begins.
class TUpdateCheck : public QObject {
  Q_OBJECT

 public:
  TUpdateCheck(bool Manual, TUpdateOptions options, QObject* parent = nullptr);
  ~TUpdateCheck() override;
  Q_DISABLE_COPY_MOVE(TUpdateCheck)

  // The check reports from the event loop, once the work that found it has returned
  // (never from inside a request): a receiver may show it in a modal box.
  //
  // The question whether to download and start the newer release; the answer goes to
  // Answer. Unset: the answer is "No".
  std::function<void(const std::string& question)> OnQuestion;
  // The end, once, with the text of the error that ended it, for the user (it has been
  // logged; empty: none, or the check was cancelled). Without an update check (no address
  // or no key) it logs that updates are off and ends with NoUpdate, touching no file. The
  // check may be destroyed from inside.
  std::function<void(TUpdateResult result, const std::string& error)> OnFinished;

  void Start();
  // The user's answer to OnQuestion; nothing once the check has ended meanwhile.
  void Answer(bool yes);
  // The program ends: breaks off every request, closes the download window and never
  // starts the setup; the result is Failed unless the check had ended.
  void Cancel();
  // From Start until OnFinished has been called.
  bool Running() const { return started_ && !finished_; }

 private:
  struct TState;
  void Run();
  // A request's end: next runs when it succeeded; its error, or next's, ends the check.
  std::function<void(const std::exception_ptr&)> ThenOrFail(void (TUpdateCheck::*next)());
  void InfoArrived();
  void SignatureArrived();
  void BeginDownload();
  void StartDownload();
  void DownloadEnded(const std::exception_ptr& error);
  void CancelDownload();
  void ExecuteSetup();
  void DropPart();
  void Fail(const std::exception_ptr& error);
  // Ends the check with result (the first call only) and reports it from the event loop.
  void Finish(TUpdateResult result, const std::string& error = {});

  bool Manual_;
  TUpdateOptions options_;
  std::unique_ptr<TState> state_;
  bool started_ = false;
  bool ended_ = false;     // Finish has run
  bool finished_ = false;  // OnFinished has been called
  bool cancelled_ = false;
  bool asked_ = false;  // the question waits for its answer
};

}  // namespace vx
