// Column headings: a line of titles and a line of dashes, each standing
// right-aligned over its column of the usage rows.
#pragma once

// Both read the final counting cluster size, opt.c.
void header();
void headerLine();
