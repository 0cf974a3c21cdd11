// Reads arbitrary bytes as a comma-separated file. The reader must finish
// without crashing, give valid UTF-8 fields, and every record it gives must
// come back identical after writing it (quoted where needed) and reading again.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/CSVReader.h"
#include "app/CSVWriter.h"
#include "app/TextEncoding.h"
#include "platform/text/Utf8.h"

using tabulo::CSVReader;
using tabulo::CSVWriter;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CSVReader::Settings settings;
  settings.maxFieldsPerRecord = 1000;
  CSVReader reader(std::string(reinterpret_cast<const char*>(data), size), settings);
  std::vector<std::vector<std::string>> records;
  while (auto record = reader.next()) {
    if (record->empty() || record->size() > settings.maxFieldsPerRecord) std::abort();
    for (const std::string& field : *record) {
      if (!platform::utf8::isValid(field)) std::abort();
    }
    records.push_back(std::move(*record));
  }
  if (reader.failed() && reader.error().empty()) std::abort();

  CSVWriter writer;
  for (const auto& record : records) {
    writer.write(record, [&](size_t i) {
      return CSVWriter::needsQuotes(record[i]) || (&record == &records.front() && i == 0 &&
                                                   record[0].starts_with("\xEF\xBB\xBF"));
    });
  }
  CSVReader again(writer.takeText());
  for (const auto& record : records) {
    auto read = again.next();
    if (!read || *read != record) std::abort();
  }
  if (again.next() || again.failed()) std::abort();
  return 0;
}
