/* One group of two periods of two occasions: a group term has no groups
   to tell apart. */
PROC TITLE A group term without groups;
PROC MODEL NPAR=10;
 COHORT=85;
  30 : a; 20 : b; 35 : c; 0 : d;
 COHORT=65;
  10 : a; 15 : b; 40 : c; 0 : d;
 COHORT=47;
  12 : a; 10 : b; 25 : c; 0 : d;
 COHORT=100;
  35 : a; 65 : b;
PROC ESTIMATE;
 STRUCTURE PHI(T) P(T) C(P)
   GAMMA(RANDOM,G);
PROC STOP;
