PROC TITLE The file ends without PROC STOP;
