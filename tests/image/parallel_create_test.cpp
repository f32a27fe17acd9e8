// Image creation with worker threads against one thread, on every media type: the same image and the same
// questions and messages in the same order, also when the user cancels (answering either way) and when a
// unit cannot be read. (Status lines follow the work as it happens, so they are not compared.)
#include <gtest/gtest.h>

#include <memory>

#include "common/worker_pool.h"
#include "image/create_rig.h"

namespace {

using kdl::Answer;
using kdltest::DriveRig;

struct Scenario {
  const char* name;
  int cancelAtPump;  // 0: no cancel request
  Answer answer;     // to the interruption question
  bool unreadable;   // a unit in the second half of the disk cannot be read
};

struct Outcome {
  int32_t result = 0;
  std::vector<std::string> asks;  // caption, text and buttons of every question and message
  std::vector<uint8_t> image;
};

Outcome Create(int type, const Scenario& s, kdl::WorkerPool* pool) {
  DriveRig rig;
  rig.disk.bytes = kdltest::ReadFile(kdltest::Floppies() / ("type" + std::to_string(type) + ".img"));
  rig.work().pool = pool;
  if (s.cancelAtPump > 0) {
    rig.prompter().cancelAtPump = {s.cancelAtPump};
    rig.prompter().answers = {s.answer};
  }
  if (s.unreadable) {
    // Every unit is read, so the unreadable one is met whatever it holds.
    rig.work().omitUnused = false;
    rig.disk.MakeUnreadable(rig.disk.bytes.size() * 3 / 4, 1);
  }
  Outcome o;
  o.result = rig.Create("disk.kdl");
  for (const kdltest::AskRecord& a : rig.prompter().asks)
    o.asks.push_back(a.caption + "|" + a.text + "|" + std::to_string(static_cast<int>(a.buttons)));
  if (std::filesystem::exists(rig.Path("disk.kdl"))) o.image = kdltest::ReadFile(rig.Path("disk.kdl"));
  return o;
}

TEST(ParallelCreation, GivesTheImageAndMessagesOfOneThread) {
  const Scenario scenarios[] = {
      {"whole disk", 0, Answer::kNo, false},
      {"cancelled, then stopped", 25, Answer::kYes, false},
      {"cancelled, then continued", 25, Answer::kNo, false},
      {"unreadable unit", 0, Answer::kNo, true},
  };
  kdl::WorkerPool pool(3);
  for (int type = 0; type < 8; ++type) {
    for (const Scenario& s : scenarios) {
      SCOPED_TRACE(std::string(s.name) + ", type " + std::to_string(type));
      const Outcome one = Create(type, s, nullptr);
      const Outcome many = Create(type, s, &pool);
      EXPECT_EQ(many.result, one.result);
      EXPECT_EQ(many.asks, one.asks);
      EXPECT_EQ(many.image, one.image);
      // Each scenario reached what it was made for.
      const bool stopped = (s.cancelAtPump > 0 && s.answer == Answer::kYes) || s.unreadable;
      EXPECT_EQ(one.result > 0, !stopped);
      if (s.cancelAtPump > 0) {
        EXPECT_EQ(one.asks.size(), 1u);
      }
    }
  }
}

}  // namespace
