#include "host/configs_check.h"

#include <cstring>

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include "sdk/filter_settings.h"

namespace tavro_host {

namespace {

const char* TypeName(const rapidjson::Value& v) {
  if (v.IsNull()) return "null";
  if (v.IsString()) return "a string";
  if (v.IsNumber()) return "a number";
  if (v.IsArray()) return "an array";
  if (v.IsObject()) return "an object";
  return "a boolean";
}

}  // namespace

std::string ConfigsProblem(const std::string& json) {
  std::string known;
  for (const auto& member : tavro_rtc::kFilterSettings)
    known += std::string(known.empty() ? "" : ", ") + member.name;
  if (json.find_first_not_of(" \t\r\n") == std::string::npos)
    return "the configs JSON is empty (give an object such as {\"enable\":true})";
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseIterativeFlag>(json.c_str());
  if (doc.HasParseError())
    return std::string("the configs text is not JSON: ") +
           rapidjson::GetParseError_En(doc.GetParseError()) + " (at character " +
           std::to_string(doc.GetErrorOffset()) + ")";
  if (!doc.IsObject())
    return std::string("the configs JSON must be an object, not ") + TypeName(doc);
  for (auto it = doc.MemberBegin(); it != doc.MemberEnd(); ++it) {
    const std::string name = it->name.GetString();
    if (!tavro_rtc::FindFilterSetting(name.c_str())) return "unknown configs key \"" + name + "\" (known: " + known + ")";
    if (!it->value.IsBool())
      return "configs key \"" + name + "\" must be true or false, not " + TypeName(it->value);
  }
  return "";
}

}  // namespace tavro_host
