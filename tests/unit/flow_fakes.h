// Scripted stand-ins for the downloader's reader, clock and event pump, and a recording view.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/byte_reader.h"
#include "base/encoding.h"
#include "base/text.h"
#include "download/downloader.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "window/update_flow.h"

namespace sealupdate {

using S = const std::u16string&;

inline std::u16string Num(double value) { return Utf8ToUtf16(std::to_string(std::int64_t(value))); }

// A whole program image: the packages of the flow's tests.
inline std::string Image() {
  return ReadWholeFile(FolderOf(GetOwnExePath()) + u"\\pe_fixtures\\en_app.exe").value_or("");
}

// A finished temporary file holding `body`; its move gives `moveResult`.
struct FakeFile final : DownloadedFile {
  std::vector<std::u16string>* log;
  std::string body;
  TransferError moveResult;
  bool carried;  // continues a body an earlier run left
  std::optional<Sha256Digest> digest;
  bool moved = false;
  FakeFile(std::vector<std::u16string>* l, std::string b, TransferError m, bool c, bool hash)
      : log(l), body(std::move(b)), moveResult(m), carried(c) {
    if (hash) digest = Sha256Of(body);
  }
  ~FakeFile() override {
    if (!moved) log->push_back(u"discard");
  }
  bool CarriedOver() const override { return carried; }
  std::uint64_t Size() const override { return body.size(); }
  std::optional<Sha256Digest> Digest() const override { return digest; }
  bool ReadAt(std::uint64_t at, void* to, std::size_t n) override {
    return MemoryByteView(body).ReadAt(at, to, n);
  }
  TransferError MoveTo(S path) override {
    log->push_back(u"move " + path);
    return moved = !moveResult, moveResult;
  }
};

// Reader, clock, pump and event sink in one, logging in order; the pump runs one queued action.
struct Rig final : UrlReader, Clock, EventPump, DownloaderEvents {
  std::vector<std::u16string> log;
  UrlReaderSink* sink = nullptr;
  TransferError startError;
  std::u16string lastKey;
  std::int64_t now = 1000;
  bool hashing = false;  // file bodies get their digest
  std::deque<std::function<void()>> queue;
  std::function<void(S, TransferError)> onComplete;

  void SetSink(UrlReaderSink* s) override { sink = s; }
  TransferError Start(S url, S key, S path) override {
    log.push_back(u"start " + key + u" " + url + (path.empty() ? u"" : u" -> " + path));
    return lastKey = key, startError;
  }
  bool Cancel(S key) override { return log.push_back(u"cancel " + key), true; }
  void SetHashFileBodies(bool on) override { hashing = on; }
  std::int64_t NowSeconds() override { return now; }
  void ProcessPendingEvents() override {
    if (queue.empty()) return;
    auto action = std::move(queue.front());
    queue.pop_front();
    action();
  }
  void AddDownloadTask(S url, S name, S path, std::int32_t n) override {
    log.push_back(u"add " + name + u" " + url + u" [" + path + u"] " + Num(n));
  }
  void DownloadProgress(S, S name, S, double read, double total, S rate, S left,
                        std::int32_t n) override {
    log.push_back(u"progress " + name + u" " + Num(read) + u"/" + Num(total) + u" " + rate + u" " +
                  left + u" " + Num(n));
  }
  void DownloadRetry(S, S name, S, std::int32_t retry, std::int32_t retries) override {
    log.push_back(u"retry " + name + u" " + Num(retry) + u"/" + Num(retries));
  }
  void DownloadComplete(S, S name, S path, const std::string& body, TransferError error,
                        std::int32_t n) override {
    log.push_back(u"complete " + name + u" [" + path + u"] \"" + Utf8ToUtf16(body) + u"\" " +
                  Num(ErrorNumber(error)) + u" " + Num(n));
    if (onComplete) onComplete(name, error);
  }

  void Body(std::string body, TransferError error = {}, std::u16string key = {}) {
    sink->OnReadComplete(key.empty() ? lastKey : key, {error, std::move(body), nullptr});
  }
  void File(S key, std::string body, TransferError moveResult = {}, bool carried = false) {
    sink->OnReadComplete(
        key,
        {{}, {}, std::make_unique<FakeFile>(&log, std::move(body), moveResult, carried, hashing)});
  }
  // The log so far, "; " after each entry, `folder` written as "~".
  std::string Take(S folder = {}) {
    std::u16string all;
    for (const auto& line : std::exchange(log, {})) all += line + u"; ";
    return Utf16ToUtf8(ReplaceAll(all, folder, u"~"));
  }
};

using Log = std::vector<std::string>;

// Keeps what the window shows and logs the notable calls; answers every question alike.
struct RecordingView : UpdateView {
  Stage stage = Stage::Idle;
  std::u16string status, speed, remaining, notes;
  std::int32_t value = 0, max = 0;
  Log log;
  MessageAnswer answer = MessageAnswer::No;
  ShellResult shellResult;

  void SetTitle(S) override {}
  void ShowStage(Stage s) override { stage = s; }
  void SetStatus(S t) override { status = t; }
  void SetSpeed(S t) override { speed = t; }
  void SetRemaining(S t) override { remaining = t; }
  void SetNotes(S t) override { notes = t; }
  void SetProgress(std::int32_t v, std::int32_t m) override { value = v, max = m; }
  void PlaceCentered() override { log.push_back("centre"); }
  void PlaceOffscreen() override { log.push_back("offscreen"); }
  void UseOwnIcon() override { log.push_back("icon"); }
  void AddTrayIcon() override { log.push_back("tray"); }
  void ShowTrayBalloon(S t, S x, TrayIconKind i) override { Add("balloon", t + u"|" + x, int(i)); }
  void RemoveTrayIcon(bool close) override { log.push_back(close ? "untray close" : "untray"); }
  void RestoreWindow() override { log.push_back("restore"); }
  MessageAnswer ShowMessage(S x, S t, MessageButtons b, MessageIcon i) override {
    Add("msgbox", x + u"|" + t, int(i));
    return b == MessageButtons::Ok ? MessageAnswer::Ok : answer;
  }
  ShellResult ShellOpen(S to, int show) override { return Add("shell", to, show), shellResult; }
  void Close() override { log.push_back("close"); }
  void Add(const char* what, S text, int n) {
    log.push_back(what + (" " + Utf16ToUtf8(text)) + "|" + std::to_string(n));
  }
  Log Tail(std::size_t n) const { return Log(log.end() - std::min(n, log.size()), log.end()); }
};

// Save folders: which may be written, whether the package is there; records what was cleared.
struct FakeFolders final : PackageFolders {
  std::vector<std::u16string> readOnly;  // folders that cannot be written
  bool packageThere = true;
  std::vector<std::u16string> cleared;  // "folder|kept,names"
  bool CanWriteIn(S folder) override {
    return std::find(readOnly.begin(), readOnly.end(), folder) == readOnly.end();
  }
  bool Exists(S) override { return packageThere; }
  void KeepOnly(S folder, const std::vector<std::u16string>& names) override {
    cleared.push_back(folder + u"|" + Join(names, u","));
  }
};

}  // namespace sealupdate
