#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/storage/storage.h"

namespace heartpage::fuzz {

// An engine stand-in's base: what a fake leaves out does nothing, or throws
// where doing nothing would pass for success, so that a test reaching it by
// mistake fails plainly. Settings, claims and pages each fake keeps itself.
class FakeStorage : public server::Storage {
 public:
  bool HasInMemory(std::string_view /*name*/) override { return false; }
  void WatchPages(server::PageChangeSink* /*sink*/) override {}
  bool MayKeepPages() override { return true; }

  server::TakeDownResult TakeDownPage(const server::MachineIdHash& /*owner*/,
                                      std::string_view /*name*/) override {
    throw server::StorageError("taking pages down is not supported here");
  }
  bool WasTakenDown(std::string_view /*name*/) override { return false; }
  server::ReleaseResult ReleaseName(const server::MachineIdHash& /*owner*/,
                                    std::string_view /*name*/) override {
    throw server::StorageError("releasing names is not supported here");
  }

  server::PreviewStoreResult StorePreview(const server::MachineIdHash& /*owner*/,
                                          std::string_view /*token*/, std::string_view /*bytes*/,
                                          std::int64_t /*now*/, std::int64_t /*expires*/,
                                          const server::AddressBudget& /*sender*/,
                                          std::string_view /*compressed*/ = {}) override {
    throw server::StorageError("this storage keeps no previews");
  }
  std::optional<server::PreviewPage> LoadPreview(std::string_view /*token*/,
                                                 std::int64_t /*now*/) override {
    return std::nullopt;
  }

  server::MediaStoreResult StoreMedia(const server::MachineIdHash& /*owner*/,
                                      const server::MediaFacts& /*facts*/,
                                      const server::MediaReader& /*read*/,
                                      std::uint64_t /*owner_quota*/,
                                      const server::AddressBudget& /*sender*/) override {
    throw server::StorageError("media are not supported here");
  }
  std::optional<server::MediaFacts> FindMedia(std::string_view /*name*/) override {
    return std::nullopt;
  }
  void ReadMedia(std::string_view /*name*/, std::uint64_t /*offset*/, std::uint64_t /*length*/,
                 const std::function<void(std::string_view)>& /*take*/) override {}
  std::vector<std::string> SweepMedia(std::int64_t /*uploaded_before*/) override { return {}; }

  server::ReportResult AddReport(std::string_view /*page*/, std::string_view /*reason*/,
                                 std::int64_t /*now*/) override {
    throw server::StorageError("reports are not supported here");
  }
  std::vector<server::Report> ListReports(std::string_view /*page*/,
                                          std::size_t /*limit*/) override {
    return {};
  }
  bool DismissReport(std::int64_t /*id*/) override { return false; }
  // Nothing denied: every page a fake is given goes through.
  bool AddDenied(const server::DenyEntry& /*entry*/, std::int64_t /*now*/) override {
    throw server::StorageError("the deny list is not supported here");
  }
  bool RemoveDenied(const server::DenyEntry& /*entry*/) override { return false; }
  std::vector<server::DenyEntry> DeniedList() override { return {}; }

  // Nothing came back from any page.
  void BindQuestion(std::string_view, const server::PageVersion&,
                    const server::PageQuestion&) override {
    throw server::StorageError("receipts are not supported here");
  }
  server::VisitResult CountOpening(std::string_view, std::string_view, std::string_view,
                                   std::int64_t) override {
    throw server::StorageError("receipts are not supported here");
  }
  server::VisitResult AddAnswer(std::string_view, std::string_view, std::string_view, int,
                                std::int64_t) override {
    throw server::StorageError("receipts are not supported here");
  }
  std::optional<server::PageReceipts> LoadReceipts(std::string_view /*name*/) override {
    return std::nullopt;
  }
  server::UnlockVerdict TakeUnlockTry(std::string_view, std::string_view, std::int64_t) override {
    throw server::StorageError("codes are not supported here");
  }

  // Nothing decided by an operator: nobody blocked, nothing withheld.
  bool OwnerBlocked(const server::MachineIdHash& /*owner*/) override { return false; }
  bool PageWithheld(std::string_view /*name*/) override { return false; }
  server::StoreStanding StandingOfStore(const server::MachineIdHash& owner,
                                        std::string_view name) override {
    const std::vector<server::Claim> claims = ClaimsOfName(name);
    return {OwnerBlocked(owner), PageWithheld(name),
            claims.empty() ? std::nullopt : std::optional(claims.front().owner), DeniedList()};
  }
  bool MediaRemoved(std::string_view /*sha256*/) override { return false; }
  std::vector<server::NameRecord> ListNames(std::int64_t /*since*/) override { return {}; }
  std::optional<server::NameRecord> FindName(std::string_view /*name*/) override { return {}; }
  server::AdminResult WithholdPage(std::string_view, std::string_view) override {
    return Unsupported();
  }
  server::AdminResult RestorePage(std::string_view, std::string_view) override {
    return Unsupported();
  }
  server::AdminResult BlockOwner(std::string_view, std::string_view) override {
    return Unsupported();
  }
  server::AdminResult UnblockOwner(std::string_view, std::string_view) override {
    return Unsupported();
  }
  server::AdminResult RemoveMedia(std::string_view, std::string_view) override {
    return Unsupported();
  }
  server::SiteFigures Figures(int /*days*/) override { return {}; }
  std::vector<server::AddressUsage> BusiestAddresses(int, std::size_t) override { return {}; }
  std::vector<server::AdminLogEntry> AdminLog(std::size_t /*limit*/) override { return {}; }
  void LogAdminAction(std::string_view, std::string_view, std::string_view) override {
    Unsupported();
  }
  void Backup(const std::filesystem::path& /*file*/) override { Unsupported(); }

 private:
  [[noreturn]] static server::AdminResult Unsupported() {
    throw server::StorageError("the operator's tools are not supported here");
  }
};

}  // namespace heartpage::fuzz
