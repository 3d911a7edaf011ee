#include "platform/services/xml_dom.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace qv {
namespace {

TEST(XmlDocumentTest, SelectsNodesAnywhereAndReadsTextAndAttributes) {
  XmlDocument doc;
  ASSERT_TRUE(
      doc.LoadXML("<?xml version=\"1.0\"?>\n<ProductInfo><Details url=\"a\"><ImageUrlLarge>\n"
                  "  http://h/1.jpg \n</ImageUrlLarge></Details>"
                  "<Other><Details><ImageUrlLarge>http://h/2.jpg</ImageUrlLarge></Details></Other>"
                  "<ImageUrlLarge>not below Details</ImageUrlLarge></ProductInfo>"));
  ASSERT_FALSE(doc.DocumentElement().IsNull());
  EXPECT_EQ(doc.DocumentElement().NodeName(), "ProductInfo");
  const XmlNodeList nodes = doc.DocumentElement().SelectNodes("//Details/ImageUrlLarge");
  ASSERT_EQ(nodes.Length(), 2);
  EXPECT_EQ(nodes.Item(0).Text(), "http://h/1.jpg");
  EXPECT_EQ(nodes.Item(1).Text(), "http://h/2.jpg");
  EXPECT_TRUE(nodes.Item(2).IsNull());
  EXPECT_TRUE(nodes.Item(-1).IsNull());
  const XmlNode details = doc.SelectSingleNode("//Details");
  EXPECT_EQ(details.Attr("url"), "a");
  EXPECT_TRUE(details.HasAttr("url"));
  EXPECT_EQ(details.Attr("missing"), "");
  EXPECT_FALSE(details.HasAttr("missing"));
  // Relative selection starts at the node.
  EXPECT_EQ(details.SelectNodes("ImageUrlLarge").Length(), 1);
  EXPECT_TRUE(doc.SelectSingleNode("//Nothing").IsNull());
}

TEST(XmlDocumentTest, ExternalEntitiesAndDtdsAreNeverRead) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("qv-xml-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto secret = dir / "secret.txt";
  std::ofstream(secret) << "TOPSECRET";
  const std::string xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY x SYSTEM \"file://" +
                          secret.string() + "\">]>\n<r><v>&x;</v></r>";
  XmlDocument doc;
  doc.LoadXML(xml);
  EXPECT_EQ(doc.SelectSingleNode("//v").Text().find("TOPSECRET"), std::string::npos);
  const std::string dtd =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE r SYSTEM \"file://" + secret.string() + "\">\n<r>ok</r>";
  XmlDocument doc2;
  EXPECT_TRUE(doc2.LoadXML(dtd));
  EXPECT_EQ(doc2.DocumentElement().Text(), "ok");
  std::filesystem::remove_all(dir);
}

TEST(XmlDocumentTest, EntityExpansionBombIsRefusedOrBounded) {
  std::string xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY a0 \"xxxxxxxxxx\">";
  for (int i = 1; i < 10; ++i) {
    xml += "<!ENTITY a" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) xml += "&a" + std::to_string(i - 1) + ";";
    xml += "\">";
  }
  xml += "]>\n<r>&a9;</r>";
  XmlDocument doc;
  doc.LoadXML(xml);
  // 10^10 bytes if it were expanded.
  EXPECT_LT(doc.DocumentElement().Text().size(), std::size_t(1) << 20);
}

}  // namespace
}  // namespace qv
