// Every statement of an event's write failing in turn: the event's counters,
// aggregates, metadata and raw event are all stored or none is, and the
// failing step says so.
#include <memory>
#include <tuple>

#include "FailingStatements.h"
#include "PipelineTestSupport.h"

namespace measurement_test {
namespace {

// What a failing statement of the write does: the line it logs, and whether
// the event is stored all the same (the on-device values and the stored
// "_npa" property are optional parts of the metadata).
struct StepFailure {
  const char* statement;  // a text of the failing statement
  int64_t code;           // the line it logs
  bool stored;
};

const StepFailure kStepFailures[] = {
    {"BEGIN EXCLUSIVE", 12056, false},
    {"SELECT rowid, * FROM app_metadata", 23054, false},
    {"SELECT count(1) FROM app_metadata", 23061, false},
    {"UPDATE app_metadata", 23061, false},
    {"FROM events WHERE name =", 23063, false},
    {"FROM events WHERE name NOT LIKE", 23064, false},
    {"INTO events", 23066, false},
    {"FROM user_attributes ORDER BY", 23067, false},
    {"FROM user_attributes WHERE name = '_npa'", 0, true},
    {"name = 'odm1_value'", 23287, true},
    {"name = 'odm1_session_value'", 23288, true},
    {"name = 'odm2_value'", 23291, true},
    {"name = 'odm1_group_id'", 23302, true},
    {"raw_events_metadata", 23068, false},
    {"DELETE FROM raw_events", 23069, false},
    {"INTO raw_events (", 23071, false},
    {"END TRANSACTION", 12056, false},
};

class PipelineAtomicityTest : public PipelineTest {
 protected:
  // Everything an event's write changes.
  using State = std::tuple<int64_t, int64_t, std::vector<std::string>, std::vector<std::string>>;
  State state() {
    return {count("raw_events"), count("raw_events_metadata"), column("SELECT name FROM events ORDER BY name"),
            column("SELECT daily_events_count || ',' || daily_public_events_count FROM app_metadata")};
  }

  std::unique_ptr<FailingStatements> attach() {
    std::unique_ptr<FailingStatements> failing;
    onWorker([&] { failing = std::make_unique<FailingStatements>(*pipeline->database()); });
    return failing;
  }
  void detach(std::unique_ptr<FailingStatements>& failing) {
    onWorker([&] { failing.reset(); });
  }
  // A user property of its own per round makes the round's metadata new.
  void setRound(size_t round) {
    onWorker([&] {
      ASSERT_TRUE(pipeline->database()->updateUserAttribute(GWLUserAttribute::initWithOrigin(
          "app", "round", GWLValue::initWithInt64(static_cast<int64_t>(round)), 1)));
    });
  }
};

TEST_F(PipelineAtomicityTest, EachFailingStatementRollsTheWholeEventBackWithItsLine) {
  // A new public name with new metadata: every step of the write runs.
  setRound(0);
  auto clean = attach();
  writeFiltered(event("first"));
  const std::vector<std::string> statements = clean->statements();
  detach(clean);
  ASSERT_EQ(count("raw_events"), 1);
  reports();

  for (size_t number = 1; number <= statements.size(); ++number) {
    const std::string& sql = statements[number - 1];
    SCOPED_TRACE(sql);
    const StepFailure* expected = nullptr;
    for (const StepFailure& failure : kStepFailures) {
      if (sql.find(failure.statement) != std::string::npos) {
        expected = &failure;
        break;
      }
    }
    ASSERT_TRUE(expected) << "a statement the table does not name";

    setRound(number);
    const State before = state();
    auto failing = attach();
    failing->failStatementNumber(number);
    writeFiltered(event("name" + std::to_string(number)));
    const std::vector<std::string> ran = failing->statements();
    detach(failing);
    ASSERT_GE(ran.size(), number);
    ASSERT_NE(ran[number - 1].find(expected->statement), std::string::npos) << "the same statements in the same order";

    auto codes = codeCounts();
    if (expected->code != 0) {
      EXPECT_EQ(codes[expected->code], 1);
    }
    if (expected->stored) {
      EXPECT_EQ(count("raw_events"), std::get<0>(before) + 1);
    } else {
      EXPECT_EQ(state(), before) << "counters, aggregates, metadata and raw events as they were";
      EXPECT_EQ(codes[12056], 1) << "the transaction reports its roll-back";
    }
  }

  // Nothing is left half-done: the next event is stored as usual.
  writeFiltered(event("last"));
  EXPECT_EQ(storedNames().back(), "last");
}

}  // namespace
}  // namespace measurement_test
