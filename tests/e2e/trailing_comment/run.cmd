PROC TITLE x;
/* a comment after the last statement */
