; poll_bit: waits for the vertical blank with BIT $2002 / BPL (see poll.inc).
POLL_WITH_AND = 0
.include "poll.inc"
