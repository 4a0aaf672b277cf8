PROC TITLE Exact derivatives and differences on three periods;
PROC MODEL NPAR=17 PRIMARY N = 3 SECONDARY = 2 2 2;
LABELS;
 S(1)=p(1,1) capture;
 S(2)=p(1,2) capture;
 S(3)=c(1,2) recapture;
 S(4)=p(2,1) capture;
 S(5)=p(2,2) capture;
 S(6)=c(2,2) recapture;
 S(7)=p(3,1) capture;
 S(8)=p(3,2) capture;
 S(9)=c(3,2) recapture;
 S(10)=phi(1) survival;
 S(11)=phi(2) survival;
 S(12)=gamma''(2) leave;
 S(13)=gamma''(3) leave;
 S(14)=gamma'(3) stay out;
 S(15)=theta(1) exponent;
 S(16)=theta(2) exponent;
 S(17)=theta(3) exponent;
 COHORT=95 /* period 1, first caught */;
  40 : caught 11; 25 : caught 10; 30 : caught 01; 0 : never;
 COHORT=47 /* period 2, first caught */;
  20 : caught 11; 12 : caught 10; 15 : caught 01; 0 : never;
 COHORT=70 /* period 2, released after period 1 */;
  30 : caught 11; 18 : caught 10; 22 : caught 01; 0 : never;
 COHORT=27 /* period 3, first caught */;
  10 : caught 11; 8 : caught 10; 9 : caught 01; 0 : never;
 COHORT=21 /* period 3, released after period 1 */;
  8 : caught 11; 6 : caught 10; 7 : caught 01; 0 : never;
 COHORT=62 /* period 3, released after period 2 */;
  25 : caught 11; 17 : caught 10; 20 : caught 01; 0 : never;
 COHORT=95 /* released after period 1 */;
  45 : next caught in 2; 15 : next caught in 3; 35 : never again;
 COHORT=117 /* released after period 2 */;
  62 : next caught in 3; 55 : never again;
/* The same model three times: with exact derivatives, by
   differences, and with exact derivatives through the sine
   transform. The three print the same estimates, and the first and
   the third say how they were fitted. Only the cohort of period 1
   moves p(1): its likelihood 40 ln p + 55 ln(1-p) - 95 ln(2-p) is
   highest at p = 80/135 = 0.592593, and its expected information
   95 (4/p + 2/(1-p)) / (2-p)**3 gives the error 0.0501690, which
   the exact fits print to the last digit. */
PROC ESTIMATE GRADIENT=EXACT NAME=EXACT;
 STRUCTURE PHI(T) P(T) C(P) GAMMA(RANDOM,.);
PROC ESTIMATE GRADIENT=DIFFERENCE NAME=DIFFERENCE;
 STRUCTURE PHI(T) P(T) C(P) GAMMA(RANDOM,.);
PROC ESTIMATE GRADIENT=EXACT TRANSFORM=SINE NAME=EXACT SINE;
 STRUCTURE PHI(T) P(T) C(P) GAMMA(RANDOM,.);
PROC STOP;
