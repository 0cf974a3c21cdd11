// Nesting is bounded: decoding and encoding refuse messages nested deeper than
// their family allows, and the deepest accepted program runs safely on a
// worker thread's stack.
#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>

#include "WireTestSupport.h"
#include "analytics/wire/NANO.h"
#include "analytics/wire/WireMessages.h"
#include "platform/core/Log.h"

using wire_test::WireBytes;

namespace {

// A statement holding a statement ... `levels` entities in all, written in tag order.
std::vector<uint8_t> nestedEntity(int levels) {
  WireBytes inner = WireBytes().varintField(1, 1).stringField(4, "leaf");
  for (int level = 1; level < levels; ++level) {
    inner = WireBytes().varintField(1, 4).messageField(2, inner).stringField(3, "f");
  }
  return inner.bytes();
}

// A parameter holding a parameter ... `levels` parameters in all.
std::vector<uint8_t> nestedParam(int levels) {
  WireBytes inner = WireBytes().stringField(1, "p").varintField(3, 1);
  for (int level = 1; level < levels; ++level) inner = WireBytes().stringField(1, "p").messageField(6, inner);
  return inner.bytes();
}

// A quarter of the 8 MiB stack that the library's queue threads get by
// default: the deepest accepted program decodes, copies, encodes and is freed
// within it, also with the address sanitizer's larger frames.
constexpr size_t kWorkerStackBytes = 2048 * 1024;

void runOnWorkerStack(std::function<void()> work) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kWorkerStackBytes);
  pthread_t thread;
  auto body = [](void* arg) -> void* {
    (*static_cast<std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, body, &work), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

TEST(NANODepth, ProgramsNestUpToOneThousandLevelsOnAWorkerThread) {
  runOnWorkerStack([] {
    std::vector<uint8_t> deepest = nestedEntity(1000);
    auto entity = GWLPBRuntimeEntity::initWithBuffer(deepest);
    ASSERT_TRUE(entity);
    auto copy = GWLPBRuntimeEntity::initWithMessageInfo(entity->messageInfo());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->protoBuffer(), deepest);
    entity.reset();
    copy.reset();

    platform::log::ScopedCapture capture;
    EXPECT_FALSE(GWLPBRuntimeEntity::initWithBuffer(nestedEntity(1001)));
    EXPECT_TRUE(capture.sink().contains("<ERROR> RuntimeEntity decoder failed: nested deeper than 1000 messages"));
  });
}

TEST(NANODepth, ATenLevelStatementComesBackByteForByte) {
  std::vector<uint8_t> wire = nestedEntity(10);
  auto entity = GWLPBRuntimeEntity::initWithBuffer(wire);
  ASSERT_TRUE(entity);
  EXPECT_EQ(GWLPBRuntimeEntity::initWithMessageInfo(entity->messageInfo())->protoBuffer(), wire);
}

TEST(NANODepth, OtherFamiliesStopAtOneHundredLevels) {
  EXPECT_TRUE(GWLPBEventParam::initWithBuffer(nestedParam(100)));
  platform::log::ScopedCapture capture;
  EXPECT_FALSE(GWLPBEventParam::initWithBuffer(nestedParam(101)));
  EXPECT_TRUE(capture.sink().contains("<ERROR> EventParam decoder failed: nested deeper than 100 messages"));
  // The depth counts from the outermost message: an event adds a level.
  EXPECT_FALSE(GWLPBEvent::initWithBuffer(WireBytes().bytesField(1, nestedParam(100)).bytes()));
  EXPECT_TRUE(GWLPBEvent::initWithBuffer(WireBytes().bytesField(1, nestedParam(99)).bytes()));
}

TEST(NANODepth, EncodingRefusesWhatDecodingWouldRefuse) {
  using P = GWLPBEventParam::Field;
  std::shared_ptr<GWLPBEventParam> param = GWLPBEventParam::initWithMessageInfo();
  NANOSetInt64(param, P::int_value, 1);
  for (int level = 1; level <= 100; ++level) {
    auto outer = GWLPBEventParam::initWithMessageInfo();
    NANOSetArray(outer, P::param_value, std::vector<NANOValue>{std::shared_ptr<NANOMessageBase>(param)});
    param = outer;
  }
  platform::log::ScopedCapture capture;
  EXPECT_FALSE(param->protoBuffer());
  EXPECT_TRUE(capture.sink().contains("<ERROR> EventParam Encoder: nested deeper than 100 messages"));
  auto inner = NANOGetMessageArray<GWLPBEventParam>(param, P::param_value);
  ASSERT_EQ(inner->size(), 1u);
  auto wire = (*inner)[0]->protoBuffer();
  ASSERT_TRUE(wire);
  EXPECT_TRUE(GWLPBEventParam::initWithBuffer(*wire));
}

}  // namespace
