/* Two groups of two periods of two occasions: four cohorts each, but a
   fifth is given for group M. */
PROC TITLE Two groups, one cohort too many;
PROC MODEL NPAR=20 GROUPS = F M;
 COHORT=85;
  30 : a; 20 : b; 35 : c; 0 : d;
 COHORT=65;
  10 : a; 15 : b; 40 : c; 0 : d;
 COHORT=47;
  12 : a; 10 : b; 25 : c; 0 : d;
 COHORT=100;
  35 : a; 65 : b;
 COHORT=80;
  28 : a; 22 : b; 30 : c; 0 : d;
 COHORT=60;
  12 : a; 14 : b; 34 : c; 0 : d;
 COHORT=50;
  11 : a; 12 : b; 27 : c; 0 : d;
 COHORT=90;
  30 : a; 60 : b;
 COHORT=40;
  10 : a; 30 : b;
PROC ESTIMATE;
PROC STOP;
