#include "report/header.h"

#include <cstring>

#include "driver/opt.h"
#include "report/comma.h"
#include "report/out.h"
#include "report/row.h"

void header() {
  Layout layout = RowLayout(opt.c);
  for (int i = 0; i < layout.count; ++i) {
    const char* title = ColumnTitle(layout.id[i]);
    if (i > 0) OutChar(' ');
    putnchar(' ', FieldWidth(layout.width[i]) - static_cast<int>(strlen(title)));
    OutWrite(title);
  }
  OutChar('\n');
}

void headerLine() {
  Layout layout = RowLayout(opt.c);
  for (int i = 0; i < layout.count; ++i) {
    if (i > 0) OutChar(' ');
    putnchar('-', FieldWidth(layout.width[i]));
  }
  OutChar('\n');
}
