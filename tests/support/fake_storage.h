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
  bool KeepingPagesIsSafe() override { return true; }

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
                                          std::int64_t /*now*/, std::int64_t /*expires*/) override {
    throw server::StorageError("this storage keeps no previews");
  }
  std::optional<server::PreviewPage> LoadPreview(std::string_view /*token*/,
                                                 std::int64_t /*now*/) override {
    return std::nullopt;
  }

  server::MediaStoreResult StoreMedia(const server::MachineIdHash& /*owner*/,
                                      const server::MediaFacts& /*facts*/,
                                      const server::MediaReader& /*read*/,
                                      std::uint64_t /*owner_quota*/) override {
    throw server::StorageError("media are not supported here");
  }
  std::optional<server::MediaFacts> FindMedia(std::string_view /*name*/) override {
    return std::nullopt;
  }
  void ReadMedia(std::string_view /*name*/, std::uint64_t /*offset*/, std::uint64_t /*length*/,
                 const std::function<void(std::string_view)>& /*take*/) override {}
  std::vector<std::string> SweepMedia(std::int64_t /*uploaded_before*/) override { return {}; }
};

}  // namespace heartpage::fuzz
