#pragma once
// The run-status block: reader positions, echo level, page counters, run
// switches and clock values that every procedure of a run reads.

namespace quorvale {

/// How the echo of a statement is set off in the listing: a PROC statement
/// by two empty lines, a statement of a procedure by one, a detail statement
/// of a block (a cell, a label, a constraint, a start value) by none; each
/// level is indented three columns more than the one before. Unset is the
/// level before any statement has been given one.
enum class EchoLevel { Unset = 0, Proc = 1, Statement = 2, Detail = 3 };

/// Run-wide status fields, one instance per run (held by the Run context).
struct Status {
  int NTOK = 0;    ///< number of tokens of the current statement
  int IPOS = 1;    ///< next unread position of the command buffer
  int LAST = 0;    ///< position of the last filled character of the buffer
  int INUNIT = 5;  ///< command input: 5 standard input, 4 a named file
  int LSTUNT = 6;  ///< unit of the listing
  int IUNBIN = 2;  ///< unit of the simulation's estimate file
  int EOFFLG = 0;  ///< 1 once the command input is exhausted
  int ISTART = 0;  ///< first position of the current statement's raw text
  int IEND = 0;    ///< position of the current statement's ";"
  EchoLevel ECHOLV = EchoLevel::Unset;  ///< echo level of the current statement (Reader::echo_as sets it)
  int NPAGE = 0;   ///< number of the current listing page
  int LINLFT = 0;  ///< lines left on the current page
  int IDEBUG = 0;  ///< 1 when the current PROC statement asked for DEBUG
  int NOECHO = 0;  ///< 1 suppresses the statement echo
  float TSTART = 0.0F;  ///< clock reading at the start of the current procedure
  float TPROC = 0.0F;   ///< elapsed seconds of the last procedure
  float TTOTAL = 0.0F;  ///< elapsed seconds of all procedures so far
  int ISCRAT = 1;       ///< unit of the estimates file
  int LINES = 9999;     ///< page length in lines
};

}  // namespace quorvale
