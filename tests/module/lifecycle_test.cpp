// Whole runs of the built module through our own host: selectors and their
// statuses, the blocks the module keeps in the host, and hosts that offer
// less than the full interface.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "hostkit/host.h"
#include "hostkit/module.h"
#include "user_messages.h"

namespace {

using hostkit::Host;
using hostkit::HostImage;
using hostkit::HostOptions;

// The factory Parameter Set exactly as the module stores it in the host.
const std::vector<uint8_t> kFactoryBytes = {
    0, 0, 0, 0, 0, 0, 5, 0, 50, 0, 50, 0, 15, 0, 6, 0, 50, 0, 30, 0,
    50, 0, 50, 0, 0, 0, 30, 0, 0, 0, 0, 0, 0x30, 0x54, 0x66, 0x65, 50, 0, 0, 0,
};

class ModuleRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = new hostkit::Module;
    std::string error;
    ASSERT_TRUE(module_->Load(hostkit::Module::DefaultPath(), &error)) << error;
  }
  // The module stays loaded until the process ends, as in a host: its
  // process-wide logging state is made once per load and lives as long as
  // the module does.

  static HostImage Gradient(int32_t width, int32_t height) {
    HostImage image;
    EXPECT_TRUE(image.Allocate(width, height, 3));
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) {
        uint8_t* p = image.Pixel(x, y);
        p[0] = static_cast<uint8_t>(x * 4);
        p[1] = static_cast<uint8_t>(y * 5);
        p[2] = static_cast<uint8_t>((x + y) * 2);  // smooth: no highlight to draw a star on
      }
    return image;
  }

  std::unique_ptr<Host> NewHost(HostOptions options = HostOptions(), int32_t width = 64, int32_t height = 48) {
    auto host = std::make_unique<Host>(module_->entry(), options);
    host->SetImage(Gradient(width, height));
    return host;
  }

  // What every finished run must leave behind: no suite still acquired, no
  // handle still locked, nothing disposed of twice.
  static void ExpectHostClean(Host& host) {
    EXPECT_EQ(host.OutstandingSuites(), 0);
    EXPECT_EQ(host.handles().BadCallCount(), 0u);
    if (host.HasParameters()) {
      EXPECT_EQ(host.handles().LockCount(host.record().parameters), 0);
    }
    if (host.dataSlot() != 0) {
      EXPECT_EQ(host.handles().LockCount(reinterpret_cast<Handle>(host.dataSlot())), 0);
    }
  }

  static hostkit::Module* module_;
};

hostkit::Module* ModuleRun::module_ = nullptr;

TEST_F(ModuleRun, FullSelectorRunLeavesImageAndHostInOrder) {
  auto host = NewHost();
  const std::vector<uint8_t> before = host->image().pixels;

  ASSERT_EQ(host->RunFilter(true), 0);
  std::vector<int16_t> order;
  for (const auto& call : host->stats().selectors) {
    order.push_back(call.selector);
    EXPECT_EQ(call.result, 0) << "selector " << call.selector;
  }
  ASSERT_GE(order.size(), 4u);
  EXPECT_EQ(order.front(), filterSelectorParameters);
  EXPECT_EQ(order.back(), filterSelectorFinish);

  EXPECT_EQ(host->image().pixels, before);  // no effect is drawn yet
  EXPECT_EQ(host->ParametersBytes(), kFactoryBytes);
  EXPECT_EQ(host->DataByte(), 0) << "the dialog request is cleared once Start has run";
  EXPECT_EQ(host->stats().watchSetCalls, 1);
  EXPECT_EQ(host->stats().lastWatchValue, 1);
  EXPECT_EQ(host->handles().LiveCount(), 3u);  // the parameter and data blocks and the recorded descriptor
  EXPECT_EQ(host->stats().callsFromOtherThreads, 0);
  ExpectHostClean(*host);
}

TEST_F(ModuleRun, PrepareAnnouncesMemoryAndRequestsNoDataAfterStart) {
  auto host = NewHost();
  ASSERT_EQ(host->CallParameters(), 0);
  ASSERT_EQ(host->CallPrepare(), 0);
  EXPECT_EQ(host->record().bufferSpace, 16 * (64 * 48 + 1250000));  // B is bytes per sample
  EXPECT_EQ(host->record().maxSpace, 2 * 64 * 48 * 3);
  ASSERT_EQ(host->CallStart(), 0);
  EXPECT_FALSE(host->RequestsData());
  ASSERT_EQ(host->CallFinish(), 0);
  ExpectHostClean(*host);
}

TEST_F(ModuleRun, RepeatingTheLastFilterRunsWithoutDialogAndKeepsSettings) {
  auto host = NewHost();
  ASSERT_EQ(host->RunFilter(true), 0);
  host->ResetStats();
  // A host repeating the last filter skips Parameters: the blocks it kept
  // from the first run tell the module not to show a dialog.
  ASSERT_EQ(host->RunFilter(false), 0);
  EXPECT_EQ(host->stats().selectors.front().selector, filterSelectorPrepare);
  EXPECT_EQ(host->DataByte(), 0);
  EXPECT_EQ(host->ParametersBytes(), kFactoryBytes);
  ExpectHostClean(*host);
}

TEST_F(ModuleRun, FirstRunWithoutParametersAllocatesItsBlocksInPrepare) {
  auto host = NewHost();
  ASSERT_EQ(host->RunFilter(false), 0);
  EXPECT_EQ(host->ParametersBytes(), kFactoryBytes);
  EXPECT_EQ(host->DataByte(), 0);
  ExpectHostClean(*host);
}

TEST_F(ModuleRun, StartWithoutParametersHandleFailsAndOnlyCleansUp) {
  HostOptions options;
  options.dropParametersAtStart = true;
  auto host = NewHost(options);
  const std::vector<uint8_t> before = host->image().pixels;
  ASSERT_EQ(host->CallParameters(), 0);
  ASSERT_EQ(host->CallPrepare(), 0);
  EXPECT_EQ(host->CallStart(), filterBadParameters);
  EXPECT_EQ(host->stats().watchSetCalls, 0);
  EXPECT_EQ(host->image().pixels, before);
  EXPECT_FALSE(host->RequestsData());
  ExpectHostClean(*host);
}

TEST_F(ModuleRun, BufferSpaceSaturatesForHugeDocuments) {
  // 16-bit coordinates: 32767² at one byte per sample would wrap in 32 bits.
  HostOptions small;
  small.offerBigDocument = false;
  auto host = NewHost(small);
  host->SetFilterRect(VRect{0, 0, 32767, 32767});
  ASSERT_EQ(host->CallPrepare(), 0);
  EXPECT_EQ(host->record().bufferSpace, 1000000000);
  EXPECT_EQ(host->record().maxSpace, 2 * 1024 * 1024 * 3);
  // Finish the run the way a host would, so the module shuts down before
  // the suite unloads it.
  host->SetFilterRect(VRect{0, 0, 48, 64});
  ASSERT_EQ(host->CallPrepare(), 0);
  EXPECT_EQ(host->CallStart(), 0);
  EXPECT_EQ(host->CallFinish(), 0);

  // 32-bit coordinates from the big-document record.
  auto big = NewHost();
  big->SetFilterRect(VRect{0, 0, 300000, 200000});
  ASSERT_EQ(big->CallPrepare(), 0);
  EXPECT_EQ(big->record().bufferSpace, 1000000000);
  ASSERT_TRUE(big->record().bigDocumentData != nullptr);
  EXPECT_EQ(big->record().bigDocumentData->PluginUsing32BitCoordinates, 1);
  // A host prepares again for the document it then filters.
  big->SetFilterRect(VRect{0, 0, 48, 64});
  ASSERT_EQ(big->CallPrepare(), 0);
  EXPECT_EQ(big->CallStart(), 0);
  EXPECT_EQ(big->CallFinish(), 0);
}

TEST_F(ModuleRun, UnknownSelectorIsRefusedAndTheNextRunWorks) {
  auto host = NewHost();
  EXPECT_EQ(host->CallRaw(6), filterBadParameters);
  EXPECT_EQ(host->CallRaw(-1), filterBadParameters);
  EXPECT_EQ(host->CallRaw(32767), filterBadParameters);
  ASSERT_EQ(host->RunFilter(true), 0);
  ExpectHostClean(*host);
}

TEST_F(ModuleRun, SecondAndThirdRunsInTheSameLoadedModule) {
  for (int run = 0; run < 3; ++run) {
    auto host = NewHost();
    ASSERT_EQ(host->CallAbout(), 0) << run;
    ASSERT_EQ(host->RunFilter(true), 0) << run;
    ExpectHostClean(*host);
  }
}

TEST_F(ModuleRun, PoorHostsStillGetAWholeRun) {
  HostOptions poor;
  poor.offerBasicSuite = false;
  poor.propertyProcsInRecord = false;
  poor.offerBigDocument = false;
  poor.offerDescriptorParameters = false;
  poor.offerPlatformData = false;
  poor.offerErrorString = false;
  poor.tileWidth = 0;
  poor.tileHeight = 0;
  poor.incomingResult = 1;  // one host engine enters every call with 1
  auto host = NewHost(poor);
  const std::vector<uint8_t> before = host->image().pixels;
  EXPECT_EQ(host->CallAbout(), 0);
  ASSERT_EQ(host->RunFilter(true), 0);
  EXPECT_EQ(host->image().pixels, before);
  EXPECT_EQ(host->stats().watchSetCalls, 0);
  ExpectHostClean(*host);

  HostOptions noContinue;
  noContinue.neverContinue = true;
  auto quiet = NewHost(noContinue);
  ASSERT_EQ(quiet->RunFilter(true), 0);
  ExpectHostClean(*quiet);
}

TEST_F(ModuleRun, HostWithoutHandleProceduresGetsAnErrorNotACrash) {
  HostOptions options;
  options.offerHandleProcs = false;
  auto host = NewHost(options);
  // The user hears that memory ran out (on Windows a message box to answer).
  moduletest::UserMessageCapture capture;
  EXPECT_EQ(host->CallParameters(), memFullErr);
  EXPECT_EQ(host->CallStart(), filterBadParameters);
  // Too few procedures counts as none.
  HostOptions few;
  few.handleProcsCount = 3;
  auto other = NewHost(few);
  EXPECT_EQ(other->CallParameters(), memFullErr);
  EXPECT_EQ(other->OutstandingSuites(), 0);
  EXPECT_FALSE(capture.Stop().empty());
}

TEST_F(ModuleRun, RefusedHandleAllocationIsOutOfMemory) {
  auto host = NewHost();
  host->handles().SetAllocationLimit(1);  // the parameters fit, the data block does not
  moduletest::UserMessageCapture capture;
  EXPECT_EQ(host->CallParameters(), memFullErr);
  EXPECT_EQ(host->OutstandingSuites(), 0);
  const std::vector<std::string> messages = capture.Stop();
  ASSERT_FALSE(messages.empty());
  EXPECT_NE(messages.back().find("not enough memory"), std::string::npos) << messages.back();
}

#if !defined(_WIN32)
// Each run writes a UTF-16 log with header and footer into the private data
// folder that the test environment set up.
TEST_F(ModuleRun, EveryRunIsLoggedInTheUsersLogFolder) {
  auto host = NewHost();
  ASSERT_EQ(host->RunFilter(true), 0);
  const char* data = std::getenv("XDG_DATA_HOME");
  ASSERT_NE(data, nullptr);
  const std::string path = std::string(data) + "/Brightwerk/Glimmark2/Logs/Glimmark2_00.log";
  std::ifstream file(path, std::ios::binary);
  ASSERT_TRUE(file.good()) << path;
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xFE);
  std::string narrow;  // the log is ASCII here: keep the low bytes
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) narrow.push_back(bytes[i]);
  EXPECT_NE(narrow.find("Glimmark 2 version "), std::string::npos);
  EXPECT_NE(narrow.find("Log closed "), std::string::npos);
}
#endif

}  // namespace
