PROC TITLE A title with a byte-order mark before it;
/* A comment of 30 lines, longer than the statement buffer:
   comment text 00 comment text 00 comment text 00 comment text 00 
   comment text 01 comment text 01 comment text 01 comment text 01 
   comment text 02 comment text 02 comment text 02 comment text 02 
   comment text 03 comment text 03 comment text 03 comment text 03 
   comment text 04 comment text 04 comment text 04 comment text 04 
   comment text 05 comment text 05 comment text 05 comment text 05 
   comment text 06 comment text 06 comment text 06 comment text 06 
   comment text 07 comment text 07 comment text 07 comment text 07 
   comment text 08 comment text 08 comment text 08 comment text 08 
   comment text 09 comment text 09 comment text 09 comment text 09 
   comment text 10 comment text 10 comment text 10 comment text 10 
   comment text 11 comment text 11 comment text 11 comment text 11 
   comment text 12 comment text 12 comment text 12 comment text 12 
   comment text 13 comment text 13 comment text 13 comment text 13 
   comment text 14 comment text 14 comment text 14 comment text 14 
   comment text 15 comment text 15 comment text 15 comment text 15 
   comment text 16 comment text 16 comment text 16 comment text 16 
   comment text 17 comment text 17 comment text 17 comment text 17 
   comment text 18 comment text 18 comment text 18 comment text 18 
   comment text 19 comment text 19 comment text 19 comment text 19 
   comment text 20 comment text 20 comment text 20 comment text 20 
   comment text 21 comment text 21 comment text 21 comment text 21 
   comment text 22 comment text 22 comment text 22 comment text 22 
   comment text 23 comment text 23 comment text 23 comment text 23 
   comment text 24 comment text 24 comment text 24 comment text 24 
   comment text 25 comment text 25 comment text 25 comment text 25 
   comment text 26 comment text 26 comment text 26 comment text 26 
   comment text 27 comment text 27 comment text 27 comment text 27 
   comment text 28 comment text 28 comment text 28 comment text 28 
   comment text 29 comment text 29 comment text 29 comment text 29 
*/
PROC TITLE Columns after 80 are not read;                                       | ignored text
PROC STOP;
