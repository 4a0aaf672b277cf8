PROC TITLE x;
PROC /* never closed; TITLE y;
