// The disk check (-check): a read-only report of every problem the block
// account, the map and the error bytes show, one line each, then a summary.
#pragma once

#include "base/checkreport.h"
#include "check/account.h"
#include "disk/image.h"

// Fills `report` with one finding per problem, naming the blocks as T/S and,
// where an entry is involved, its number and its name (as disk codes in the
// captured text), and with the summary's figures. Works on any image, also
// one without block 18/0 (that is an error finding). Changes nothing and
// prints nothing.
void checkFindings(const ImageBuffer &image, CheckReport &report);

// Prints the report: one line per finding ("error: ..." or "warning: ..."),
// names through the console layer, then the summary line.
void printCheckReport(const CheckReport &report);

// checkFindings, then printCheckReport. Returns the number of errors.
int checkImage(const ImageBuffer &image);

// One finding of the account as -check words it after "error: " or
// "warning: ": the entry it is about, where there is one, then what is wrong,
// without a line end.
void printFindingText(const BlockAccount &account, const Finding &found);
