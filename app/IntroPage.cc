#include "app/IntroPage.h"

namespace tabulo {

namespace {
// Black at a third opacity, radius 8, no offset: the shadow of every page element.
void addPageShadow(platform::ViewNode& node) {
  node.properties["shadowColor"] = "black";
  node.properties["shadowOpacity"] = "0.33";
  node.properties["shadowRadius"] = "8";
  node.properties["shadowOffset"] = "0,0";
}

platform::ViewNode gradient(const std::string& id, const std::vector<platform::ViewColor>& colors,
                            const char* start, const char* end) {
  platform::ViewNode node("gradient", id);
  node.properties = {{"startPoint", start}, {"endPoint", end}};
  for (size_t i = 0; i < colors.size(); ++i) {
    platform::ViewNode& stop = node.add(platform::ViewNode("color", "stop" + std::to_string(i)));
    stop.backgroundColor = colors[i];
  }
  return node;
}
}  // namespace

platform::ViewNode IntroPage::node(const std::string& id, const std::string& buttonAction) const {
  const IntroPageContent& page = content();
  platform::ViewNode root("zstack", id);
  root.properties["alignment"] = "center";

  platform::ViewNode background = gradient("background", colors, "topLeading", "bottomTrailing");
  background.properties["ignoresSafeArea"] = "true";
  root.add(std::move(background));

  platform::ViewNode& picture = root.add(platform::ViewNode("image", "picture"));
  picture.properties = {{"imageName", page.imageName}, {"resizable", "true"}, {"resizingMode", "stretch"},
                        {"contentMode", "fill"},      {"opacity", "0.75"},    {"ignoresSafeArea", "true"},
                        {"frame", "reader"}};

  platform::ViewNode& column = root.add(platform::ViewNode("stack", "column"));
  column.properties = {{"axis", "vertical"}, {"alignment", "center"}};
  column.add(platform::ViewNode("spacer", "spacer"));

  platform::ViewNode& card = column.add(platform::ViewNode("zstack", "card"));
  card.properties = {{"alignment", "center"}, {"frameMaxHeight", "220"}, {"paddingHorizontal", "16"},
                     {"cornerRadius", "18"},  {"cornerStyle", "continuous"}};
  card.backgroundColor = platform::ViewColor::clear();

  platform::ViewNode& texts = card.add(platform::ViewNode("stack", "texts"));
  texts.properties = {{"axis", "vertical"}, {"alignment", "center"}, {"padding", "16"}};

  platform::ViewNode title("label", "title");
  title.text = page.title;
  title.textColor = platform::ViewColor::white();
  title.properties = {{"fontSize", "25"}, {"fontWeight", "black"}, {"lineLimit", "1"}, {"minimumScaleFactor", "0.5"}};
  addPageShadow(title);
  texts.add(std::move(title));
  texts.add(platform::ViewNode("spacer", "spacer1"));

  platform::ViewNode description("label", "description");
  description.text = page.description;
  description.textColor = platform::ViewColor::white();
  description.properties = {{"fontSize", "18"}, {"fontWeight", "bold"}, {"multilineTextAlignment", "center"}};
  addPageShadow(description);
  texts.add(std::move(description));
  texts.add(platform::ViewNode("spacer", "spacer2"));

  platform::ViewNode button("button", "button");
  button.text = page.buttonTitle;
  button.textColor = platform::ViewColor::white();
  button.action = buttonAction;
  button.properties = {{"fontSize", "26"},          {"fontWeight", "heavy"},     {"cornerRadius", "18"},
                       {"cornerStyle", "continuous"}, {"frameMaxWidth", "250"}, {"frameMaxHeight", "60"}};
  addPageShadow(button);
  button.add(gradient("label", colors, "top", "bottom"));
  texts.add(std::move(button));
  return root;
}

}  // namespace tabulo
