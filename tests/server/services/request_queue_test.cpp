#include "server/services/request_queue.h"

#include <gtest/gtest.h>

namespace keep::server {
namespace {

TEST(BuildRequestFrame, PadsCodesToThreeDigitsAndWritesFourAs401) {
  EXPECT_EQ("<|001|>", BuildRequestFrame(1, {}));
  EXPECT_EQ("<|002|180|@|>", BuildRequestFrame(2, {"180", "@"}));
  EXPECT_EQ("<|401|0|>", BuildRequestFrame(4, {"0"}));
  EXPECT_EQ("<|101|>", BuildRequestFrame(101, {}));
}

TEST(RequestQueue, ClientRequestsQueueInOrderAndInternalOnesGoFirst) {
  RequestQueue queue;
  queue.QueueRequest("10.0.0.5", "<|307|2024|12|31|23|59|59|6|>", false);
  queue.QueueRequest("10.0.0.6", "<|400|>", false);
  queue.QueueInternalRequest(101, {});
  EXPECT_EQ((TStringList{"@|<|101|>", "10.0.0.5|<|307|2024|12|31|23|59|59|6|>", "10.0.0.6|<|400|>"}), queue.Items());
}

TEST(RequestQueue, TheSameInternalRequestIsNeverQueuedTwice) {
  RequestQueue queue;
  for (int i = 0; i < 10; ++i) queue.QueueInternalRequest(101, {});
  EXPECT_EQ(1u, queue.Size());
  // Clients asking the same thing are each served.
  queue.QueueRequest("10.0.0.5", "<|101|>", false);
  queue.QueueRequest("10.0.0.5", "<|101|>", false);
  EXPECT_EQ(3u, queue.Size());
  // An internal request with other fields is another request.
  queue.QueueInternalRequest(2, {"180", "@"});
  queue.QueueInternalRequest(2, {"180", "60"});
  EXPECT_EQ(5u, queue.Size());
}

TEST(RequestQueue, AClientRequestArrivingDuringAnInternalOneRunsAfterTheInternalOnesQueuedMeanwhile) {
  RequestQueue queue;
  queue.QueueInternalRequest(101, {});
  ASSERT_TRUE(queue.TakeNext().has_value());  // the internal request is executing
  queue.QueueRequest("10.0.0.5", "<|400|>", false);
  queue.QueueInternalRequest(109, {});
  queue.QueueInternalRequest(1, {});
  EXPECT_EQ("@", queue.TakeNext()->Requester);
  EXPECT_EQ("@", queue.TakeNext()->Requester);
  EXPECT_EQ("10.0.0.5", queue.TakeNext()->Requester);
  EXPECT_FALSE(queue.TakeNext().has_value());
}

TEST(RequestQueue, TakeNextSplitsTargetCodeAndFields) {
  RequestQueue queue;
  queue.QueueRequest("127.0.0.1", "<|401|0|>", true);
  const auto request = queue.TakeNext();
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ("127.0.0.1", request->Requester);
  EXPECT_EQ(401, request->Code);
  EXPECT_EQ((TStringList{"401", "0"}), request->Params);
  EXPECT_TRUE(queue.Empty());
}

TEST(RequestQueue, AnAddressGoneTakesItsReadsButNotItsChangesOutOfTheQueue) {
  RequestQueue queue;
  queue.QueueRequest("10.0.0.5", "<|101|>", false);
  queue.QueueRequest("10.0.0.50", "<|102|>", false);
  queue.QueueRequest("10.0.0.5", "<|302|100|90|0|0|60|0|1|>", false);
  queue.QueueRequest("10.0.0.5", "<|139|2|>", false);
  queue.QueueRequest("10.0.0.5", "<|400|>", false);
  queue.QueueInternalRequest(101, {});
  EXPECT_EQ(4u, queue.CountFor("10.0.0.5"));
  EXPECT_EQ(1u, queue.CountFor("10.0.0.50")) << "an address is matched whole";
  queue.DropReadsOf("10.0.0.5");
  EXPECT_EQ((TStringList{"@|<|101|>", "10.0.0.50|<|102|>", "10.0.0.5|<|302|100|90|0|0|60|0|1|>", "10.0.0.5|<|400|>"}),
            queue.Items());
}

}  // namespace
}  // namespace keep::server
