#pragma once

#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "server/storage/sql/sql_session.h"
#include "server/storage/storage.h"

// The storage rules, written once for every SQL engine: who may claim and
// store what, how much room each may take, what visitors may send and what
// the operator decides. An engine below them keeps only its connections, its
// schema and how the other processes on its database hear of changes.
namespace heartpage::server {

class SqlStorage : public Storage {
 public:
  MachineIdHash HashMachineId(std::string_view machine_id) override;

  // In sql_storage.cpp.
  SiteSettings LoadSettings() override;
  void UpdateSettings(const SiteSettings& changes) override;
  std::vector<Claim> ClaimsOfMachine(const MachineIdHash& owner) override;
  std::vector<Claim> ClaimsOfName(std::string_view name) override;
  ClaimResult ClaimName(const MachineIdHash& owner, std::string_view name) override;

  // In sql_pages.cpp.
  StoreResult StorePage(const MachineIdHash& owner, std::string_view name, std::string_view bytes,
                        const AddressBudget& sender = {}, const PageGate& gate = {}) override;
  std::shared_ptr<const StoredPage> LoadPage(std::string_view name) override {
    return LoadForm(name, PageForm::kBoth);
  }
  std::shared_ptr<const StoredPage> LoadForm(std::string_view name, PageForm form) override;
  void KeepCompressed(std::string_view name, std::string_view etag,
                      std::string_view compressed) override;
  bool HasInMemory(std::string_view /*name*/) override { return false; }

  // In sql_reports.cpp.
  ReportResult AddReport(std::string_view page, std::string_view reason, std::int64_t now) override;
  std::vector<Report> ListReports(std::string_view page, std::size_t limit) override;
  bool DismissReport(std::int64_t id) override;
  bool AddDenied(const DenyEntry& entry, std::int64_t now) override;
  bool RemoveDenied(const DenyEntry& entry) override;
  std::vector<DenyEntry> DeniedList() override;

  // In sql_media.cpp.
  TakeDownResult TakeDownPage(const MachineIdHash& owner, std::string_view name) override;
  bool WasTakenDown(std::string_view name) override;
  ReleaseResult ReleaseName(const MachineIdHash& owner, std::string_view name) override;
  MediaStoreResult StoreMedia(const MachineIdHash& owner, const MediaFacts& facts,
                              const MediaReader& read, std::uint64_t owner_quota,
                              const AddressBudget& sender) override;
  std::optional<MediaFacts> FindMedia(std::string_view name) override;
  void ReadMedia(std::string_view name, std::uint64_t offset, std::uint64_t length,
                 const std::function<void(std::string_view)>& take) override;
  std::vector<std::string> SweepMedia(std::int64_t uploaded_before) override;
  AdminResult RemoveMedia(std::string_view sha256, std::string_view reason) override;

  // In sql_previews.cpp.
  PreviewStoreResult StorePreview(const MachineIdHash& owner, std::string_view token,
                                  std::string_view bytes, std::int64_t now, std::int64_t expires,
                                  const AddressBudget& sender,
                                  std::string_view compressed = {}) override;
  std::optional<PreviewPage> LoadPreview(std::string_view token, std::int64_t now) override;

  // In sql_receipts.cpp.
  void BindQuestion(std::string_view name, const PageVersion& version,
                    const PageQuestion& question) override;
  VisitResult CountOpening(std::string_view name, std::string_view etag, std::string_view visitor,
                           std::int64_t now) override;
  VisitResult AddAnswer(std::string_view name, std::string_view etag, std::string_view visitor,
                        int choice, std::int64_t now) override;
  std::optional<PageReceipts> LoadReceipts(std::string_view name) override;
  UnlockVerdict TakeUnlockTry(std::string_view name, std::string_view visitor,
                              std::int64_t now) override;

  // In sql_admin.cpp.
  bool OwnerBlocked(const MachineIdHash& owner) override;
  bool PageWithheld(std::string_view name) override;
  StoreStanding StandingOfStore(const MachineIdHash& owner, std::string_view name) override;
  bool MediaRemoved(std::string_view sha256) override;
  std::vector<NameRecord> ListNames(std::int64_t since) override;
  std::optional<NameRecord> FindName(std::string_view name) override;
  AdminResult WithholdPage(std::string_view name, std::string_view reason) override;
  AdminResult RestorePage(std::string_view name, std::string_view reason) override;
  AdminResult BlockOwner(std::string_view name, std::string_view reason) override;
  AdminResult UnblockOwner(std::string_view name, std::string_view reason) override;
  SiteFigures Figures(int days) override;
  std::vector<AddressUsage> BusiestAddresses(int days, std::size_t count) override;
  std::vector<AdminLogEntry> AdminLog(std::size_t limit) override;
  void LogAdminAction(std::string_view action, std::string_view target,
                      std::string_view reason) override;

 protected:
  explicit SqlStorage(const StorageOptions& options)
      : page_limit_(options.page_byte_limit.value_or(UINT64_MAX)) {}

  using SessionJob = std::function<void(SqlSession&)>;
  // Who changed a page: its owner, through the server, or the operator,
  // with a tool of its own beside the servers.
  enum class ChangedBy { kOwner, kOperator };

  // Lends a connection to `work`, for reads (and writes of one statement
  // where the engine allows them outside a transaction).
  virtual void Borrow(const SessionJob& job) = 0;
  // Runs `work` in one transaction, taken for writing. A commit that need
  // not reach the disk by itself (`synced` false) is acknowledged before it
  // does; the next synced commit carries it there with its own.
  virtual void Transact(const SessionJob& job, bool synced) = 0;
  // Inside the transaction that changes what the page of `name` answers:
  // every server that keeps that page must drop it, by the time the
  // transaction has been acknowledged.
  virtual void Announce(SqlSession& db, std::string_view name, ChangedBy by) = 0;
  virtual const MachineIdHasher& Hasher() = 0;

  // Of the whole site's pages and media; UINT64_MAX: none.
  const std::uint64_t page_limit_;

  template <typename Step>
  auto Read(Step&& step) {
    return RunStep([&](const SessionJob& job) { Borrow(job); }, step);
  }
  template <typename Step>
  auto Write(Step&& step, bool synced = true) {
    return RunStep([&](const SessionJob& job) { Transact(job, synced); }, step);
  }

 private:
  // Hands `step` to `run` and gives back what it answered.
  template <typename Run, typename Step>
  static auto RunStep(Run&& run, Step& step) {
    using Result = std::invoke_result_t<Step&, SqlSession&>;
    if constexpr (std::is_void_v<Result>) {
      run([&](SqlSession& db) { step(db); });
    } else {
      std::optional<Result> result;
      run([&](SqlSession& db) { result.emplace(step(db)); });
      return std::move(*result);
    }
  }
};

// Replaces the gate of `name`'s page, inside the write that stores it
// (sql_pages.cpp).
void StoreGate(SqlSession& db, std::string_view name, const PageGate& gate);

}  // namespace heartpage::server
