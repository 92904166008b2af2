#include <gtest/gtest.h>

#include "journal/journal_export.h"

namespace kiren {
namespace {

TJournalRecord Row() {
  TJournalRecord r;
  r.Id = 12;
  r.TimeUtc = "2026-12-11T10:00:00.000Z";
  r.TimeLocal = "2026-12-11T13:00:00.000+03:00";
  r.Station = "desk;1";
  r.Login = "=cmd|' /C calc'!A0";
  r.ReaderPort = "/dev/ttyACM0";
  r.Firmware = "4.2";
  r.CardUid = "04112233445566";
  r.CardType = "Mifare 1K";
  r.Operation = TJournalOperation::CardCodeWrite;
  r.Block = 4;
  r.Offset = 0;
  r.Size = 5;
  r.CodeHex = "12E5";
  r.CodeDec = "4837";
  r.ResultCode = 0;
  r.ResultText = "Блок 4: \"01 02\"\r\nожидалось: 03";
  r.Verify = TVerifyOutcome::ReadBackDiffers;
  return r;
}

TEST(JournalExport, CsvForRussianSpreadsheets) {
  const std::string csv = JournalToCsv({Row()});
  ASSERT_EQ(csv.rfind("\xEF\xBB\xBF", 0), 0u) << "UTF-8 byte order mark first";
  const auto headerEnd = csv.find("\r\n");
  EXPECT_EQ(csv.substr(3, headerEnd - 3),
            "№;Время UTC;Местное время;Рабочее место;Оператор;Порт;Версия считывателя;UID карты;"
            "Тип карты;Операция;Блок;Смещение;Размер;Код (hex);Код;Формат;Эмитент;Эмиссия;"
            "Код результата;Результат;Проверка");
  // Separators, quotes and line breaks inside a field are quoted; identifiers keep their
  // digits ("12E5" is no number, "04..." keeps its zero); a formula in free text stays text.
  EXPECT_EQ(csv.substr(headerEnd + 2),
            "12;2026-12-11T10:00:00.000Z;2026-12-11T13:00:00.000+03:00;\"desk;1\";"
            "'=cmd|' /C calc'!A0;/dev/ttyACM0;4.2;\"=\"\"04112233445566\"\"\";Mifare 1K;"
            "Запись кода карты;4;0;5;\"=\"\"12E5\"\"\";\"=\"\"4837\"\"\";;;;0;"
            "\"Блок 4: \"\"01 02\"\"\r\nожидалось: 03\";Прочитанное с карты отличается\r\n");

  TJournalRecord issued = Row();
  issued.Operation = TJournalOperation::Issue;
  issued.Block = std::nullopt;
  issued.CodeHex = issued.CodeDec = "";
  issued.Emitent = 0x102;
  issued.Emission = 5;
  const std::string line = JournalToCsv({issued}).substr(headerEnd + 2);
  EXPECT_NE(line.find(";Выдача карты;;0;5;;;;0x00000102;0x0005;"), std::string::npos) << line;
  EXPECT_EQ(JournalToCsv({}), csv.substr(0, headerEnd + 2));
}

TEST(JournalExport, JsonLines) {
  TJournalRecord issued = Row();
  issued.Operation = TJournalOperation::Issue;
  issued.Size = std::nullopt;
  issued.Emitent = 258;
  const std::string json = JournalToJsonLines({Row(), issued});
  const auto first = json.substr(0, json.find('\n') + 1);
  EXPECT_EQ(first,
            "{\"id\":12,\"time_utc\":\"2026-12-11T10:00:00.000Z\","
            "\"time_local\":\"2026-12-11T13:00:00.000+03:00\",\"station\":\"desk;1\","
            "\"login\":\"=cmd|' /C calc'!A0\",\"reader_port\":\"/dev/ttyACM0\","
            "\"firmware\":\"4.2\",\"card_uid\":\"04112233445566\",\"card_type\":\"Mifare 1K\","
            "\"operation\":\"card_code_write\",\"block\":4,\"offset\":0,\"size\":5,"
            "\"code_hex\":\"12E5\",\"code_dec\":\"4837\",\"layout\":\"\",\"emitent\":null,"
            "\"emission\":null,\"result_code\":0,"
            "\"result_text\":\"Блок 4: \\\"01 02\\\"\\r\\nожидалось: 03\","
            "\"verify\":\"read_back_differs\"}\n");
  const auto second = json.substr(first.size());
  EXPECT_NE(second.find("\"operation\":\"issue\""), std::string::npos);
  EXPECT_NE(second.find("\"size\":null"), std::string::npos);
  EXPECT_NE(second.find("\"emitent\":258"), std::string::npos);
  EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 2);
  EXPECT_EQ(JournalToJsonLines({}), "");
}

}  // namespace
}  // namespace kiren
