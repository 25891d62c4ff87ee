#include "plan/item_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvo::plan {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

std::vector<std::string> UninstallIds(const std::vector<Section>& items) {
  std::vector<std::string> ids;
  for (const Section& item : items) ids.push_back(item.Get("uninstallid"));
  return ids;
}

TEST(InstallItemsTest, JsonValuesBecomeTexts) {
  const std::vector<Section> items = InstallItems(
      R"({"uninstallid":"OrvoApp","size":1234,"big":4294967296,"neg":-5,"ratio":0.1,"whole":2.0,)"
      R"("checkversion":true,"subaction":false,"nothing":null,"list":[1],"obj":{}})");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_THAT(items[0].Entries(),
              ElementsAre(Pair("uninstallid", "OrvoApp"), Pair("size", "1234"), Pair("big", "4294967296"),
                          Pair("neg", "-5"), Pair("ratio", "0.100000"), Pair("whole", "2.000000"),
                          Pair("checkversion", "yes"), Pair("subaction", "no"), Pair("nothing", ""),
                          Pair("list", ""), Pair("obj", "")));
}

TEST(InstallItemsTest, ArrayGivesOneItemPerObjectInOrder) {
  EXPECT_THAT(UninstallIds(InstallItems(R"([{"uninstallid":"a"}, 5, "x", {"uninstallid":"b"}])")),
              ElementsAre("a", "b"));
}

TEST(InstallItemsTest, TextThatIsNotJsonOrDoesNotParseGivesNoItems) {
  EXPECT_THAT(InstallItems("OrvoApp"), IsEmpty());
  EXPECT_THAT(InstallItems(" {\"uninstallid\":\"a\"}"), IsEmpty());  // must begin with the brace
  EXPECT_THAT(InstallItems("{\"uninstallid\":"), IsEmpty());
  EXPECT_THAT(InstallItems("[1,2"), IsEmpty());
  EXPECT_THAT(InstallItems(""), IsEmpty());
}

InstalledProductIndex Index(std::vector<std::string> ids) {
  return InstalledProductIndex{[ids] { return ids; },
                               [](std::string_view folder) {
                                 return folder == "C:\\Orvo\\Video" ? std::string("OrvoVideo") : std::string();
                               }};
}

TEST(UninstallItemsTest, AllListsEveryProductWithTheCommonProductLast) {
  EXPECT_THAT(UninstallIds(UninstallItems("all", Index({"Orvo Common", "OrvoVideo", "OrvoAudio"}))),
              ElementsAre("OrvoVideo", "OrvoAudio", "Orvo Common"));
  EXPECT_THAT(UninstallItems("all", Index({})), IsEmpty());
}

TEST(UninstallItemsTest, PlainTextIsOneUninstallId) {
  const std::vector<Section> items = UninstallItems("OrvoAudio", Index({}));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_THAT(items[0].Entries(), ElementsAre(Pair("uninstallid", "OrvoAudio")));
}

TEST(UninstallItemsTest, JsonObjectGivesItsIdsOrTheProductAtItsFolder) {
  const InstalledProductIndex index = Index({});
  EXPECT_THAT(UninstallItems(R"({"uninstallid":"OrvoAudio","id":"42","other":"x"})", index)[0].Entries(),
              ElementsAre(Pair("uninstallid", "OrvoAudio"), Pair("id", "42")));
  EXPECT_THAT(UninstallIds(UninstallItems(R"({"installfolder":"C:\\Orvo\\Video"})", index)),
              ElementsAre("OrvoVideo"));
  EXPECT_THAT(UninstallItems(R"({"installfolder":"C:\\Elsewhere"})", index), IsEmpty());
  EXPECT_THAT(UninstallItems(R"([{"uninstallid":"OrvoAudio"}])", index), IsEmpty());
  EXPECT_THAT(UninstallItems("{broken", index), IsEmpty());
}

TEST(UninstallItemsTest, ObjectWithoutEitherKeyIsAnItemWithoutUninstallId) {
  const std::vector<Section> items = UninstallItems(R"({"id":"7"})", Index({}));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_FALSE(items[0].Has("uninstallid"));
  EXPECT_EQ(items[0].Get("id"), "7");
}

}  // namespace
}  // namespace orvo::plan
