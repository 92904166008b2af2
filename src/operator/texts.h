// Texts an operator sees, shared by the window and kiren-cli.
#pragma once

#include <string>

namespace kiren::op {

// Results of commands.
inline const std::string kMsgOk = "Операция выполнена успешно";
inline const std::string kMsgNotDone = "Не выполнено";
inline const std::string kMsgNothingToClear = "Нет данных для удаления";
// The worker's queue already holds ten commands; the new one is not queued.
inline const std::string kMsgReaderBusy =
    "Считыватель занят: в очереди уже 10 команд, команда не отправлена";

// Refused input (shown in the window's warning box, by kiren-cli with exit status 2).
inline const std::string kMsgKeyMustHave6Bytes = "Ключ должен содержать 6 байт";
inline const std::string kMsgOffsetSizeTooBig =
    "Заданное смещение и кол-во байт не укладываются в размер блока 16 байт";
inline const std::string kMsgBadReadKey = "Введен некорректный ключ на чтение";
inline const std::string kMsgBadWriteKey = "Введен некорректный ключ на запись";
inline const std::string kMsgBadOldWriteKey = "Введен некорректный текущий ключ на запись";
inline const std::string kMsgBadCardCode = "Введен некорректный код карты";
inline const std::string kMsgCardCodeTooLong =
    "Введен слишком длинный код карты (максимум %d байт)";
inline const std::string kMsgBadReadBlockKey = "Не удалось распознать пароль для считывания блока";
inline const std::string kMsgCannotIncCode = "Не удалось увеличить код карты на 1";
inline const std::string kMsgIncCodeTooLong = "Слишком длинный код карты";
inline const std::string kMsgBadVariant = "Не выбран вариант эмиссии (ожидается 1 .. 5)";
inline const std::string kMsgBadFactoryKey =
    "Заводской ключ должен содержать 6 байт в шестнадцатеричном виде";
inline const std::string kMsgBadUserData =
    "Данные пользователя должны быть шестнадцатеричными, не более 10 байт";
inline const std::string kMsgBadEmitent =
    "Код эмитента: ожидается число от 0 до 2147483647 или текст не длиннее 4 символов";
inline const std::string kMsgBadEmission =
    "Код эмиссии: ожидается число от 0 до 65535 или текст не длиннее 2 символов";

// The issuance journal.
inline const std::string kMsgJournalCaption = "Журнал выдачи";
inline const std::string kMsgNotJournaled = "Операция не занесена в журнал выдачи";
inline const std::string kMsgJournalOff = "Журнал выдачи не ведётся: операция не занесена в журнал";

// Question before writing parameters that point into a sector trailer.
inline const std::string kMsgTrailerCaption = "ВНИМАНИЕ!";

}  // namespace kiren::op
