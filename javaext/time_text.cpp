#include "time_text.h"

namespace javaext {
namespace {

// Three-letter names, as asctime writes them, indexed by weekday and by month - 1.
constexpr char WEEKDAY_NAMES[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr char MONTH_NAMES[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void put_two_digits(char* out, int value) {
  out[0] = static_cast<char>('0' + value / 10);
  out[1] = static_cast<char>('0' + value % 10);
}

void put_name(char* out, const char (&name)[4]) {
  out[0] = name[0];
  out[1] = name[1];
  out[2] = name[2];
}

}  // namespace

TimeText format_time_text(const UtcTime& time) {
  const UtcTime& t = time.year < 1 ? EARLIEST_TEXT_TIME : time.year > 9999 ? LATEST_TEXT_TIME : time;

  // "Www Mmm dd hh:mm:ss yyyy\n" and the NUL.
  TimeText text{};
  char* out = text.data();
  put_name(out + 0, WEEKDAY_NAMES[t.weekday]);
  out[3] = ' ';
  put_name(out + 4, MONTH_NAMES[t.month - 1]);
  out[7] = ' ';
  put_two_digits(out + 8, t.day);
  out[10] = ' ';
  put_two_digits(out + 11, t.hour);
  out[13] = ':';
  put_two_digits(out + 14, t.minute);
  out[16] = ':';
  put_two_digits(out + 17, t.second);
  out[19] = ' ';
  const int year = static_cast<int>(t.year);
  put_two_digits(out + 20, year / 100);
  put_two_digits(out + 22, year % 100);
  out[24] = '\n';
  out[25] = '\0';
  return text;
}

}  // namespace javaext
