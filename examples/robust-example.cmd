PROC TITLE Robust design: robust-example.inp;
/* Written by quorvale-inp from robust-example.inp: 668 encounter
   histories, 991 animals (0 not released after their last capture), 5
   primary periods of 2, 2, 4, 5 and 2 secondary occasions. */
PROC MODEL NPAR=41 ADDCELL PRIMARY PERIODS = 5 SECONDARY = 2 2 4 5 2 INTERVALS
    = 1 1 1 1;
/* Labels: p(i,t) capture and c(i,t) recapture in period i on occasion t,
   phi(i) survival from period i to i+1, gamma''(j) unavailable in j if
   available in j-1 (leave), gamma'(j) unavailable in j if unavailable in
   j-1 (stay out), theta(i) the recapture exponent of period i. */
LABELS;
  S(1)=p(1,1) capture;
  S(2)=p(1,2) capture;
  S(3)=c(1,2) recapture;
  S(4)=p(2,1) capture;
  S(5)=p(2,2) capture;
  S(6)=c(2,2) recapture;
  S(7)=p(3,1) capture;
  S(8)=p(3,2) capture;
  S(9)=p(3,3) capture;
  S(10)=p(3,4) capture;
  S(11)=c(3,2) recapture;
  S(12)=c(3,3) recapture;
  S(13)=c(3,4) recapture;
  S(14)=p(4,1) capture;
  S(15)=p(4,2) capture;
  S(16)=p(4,3) capture;
  S(17)=p(4,4) capture;
  S(18)=p(4,5) capture;
  S(19)=c(4,2) recapture;
  S(20)=c(4,3) recapture;
  S(21)=c(4,4) recapture;
  S(22)=c(4,5) recapture;
  S(23)=p(5,1) capture;
  S(24)=p(5,2) capture;
  S(25)=c(5,2) recapture;
  S(26)=phi(1) survival;
  S(27)=phi(2) survival;
  S(28)=phi(3) survival;
  S(29)=phi(4) survival;
  S(30)=gamma''(2) leave;
  S(31)=gamma''(3) leave;
  S(32)=gamma''(4) leave;
  S(33)=gamma''(5) leave;
  S(34)=gamma'(3) stay out;
  S(35)=gamma'(4) stay out;
  S(36)=gamma'(5) stay out;
  S(37)=theta(1) exponent;
  S(38)=theta(2) exponent;
  S(39)=theta(3) exponent;
  S(40)=theta(4) exponent;
  S(41)=theta(5) exponent;
/* Cohorts: for each period ip, the animals first caught in ip, then those
   released after period jp-1 and next caught in ip (jp = 2..ip), cells by
   capture history within ip. Then for each period i, the animals released
   after i, cells by the period they are next caught in. ADDCELL adds every
   cohort's last cell (never caught). The cell expressions are for reading
   only: PSTAR(j) is caught at least once in period j, A(i,j) is available
   in j and missed in between. */
 COHORT = 894 /* period 1, first caught */;
        445 : S(1)*S(3);
        245 : S(1)*(1-S(3));
        204 : (1-S(1))*S(2);
 COHORT = 80 /* period 2, first caught */;
         31 : S(4)*S(6);
         27 : S(4)*(1-S(6));
         22 : (1-S(4))*S(5);
 COHORT = 605 /* period 2, released after period 1 */;
        259 : S(4)*S(6);
        192 : S(4)*(1-S(6));
        154 : (1-S(4))*S(5);
 COHORT = 17 /* period 3, first caught */;
          1 : S(7)*S(11)*S(12)*S(13);
          1 : S(7)*S(11)*S(12)*(1-S(13));
          1 : S(7)*S(11)*(1-S(12))*S(13);
          2 : S(7)*S(11)*(1-S(12))*(1-S(13));
          1 : S(7)*(1-S(11))*S(12)*S(13);
          0 : S(7)*(1-S(11))*S(12)*(1-S(13));
          0 : S(7)*(1-S(11))*(1-S(12))*S(13);
          1 : S(7)*(1-S(11))*(1-S(12))*(1-S(13));
          1 : (1-S(7))*S(8)*S(12)*S(13);
          3 : (1-S(7))*S(8)*S(12)*(1-S(13));
          1 : (1-S(7))*S(8)*(1-S(12))*S(13);
          3 : (1-S(7))*S(8)*(1-S(12))*(1-S(13));
          2 : (1-S(7))*(1-S(8))*S(9)*S(13);
          0 : (1-S(7))*(1-S(8))*S(9)*(1-S(13));
          0 : (1-S(7))*(1-S(8))*(1-S(9))*S(10);
 COHORT = 138 /* period 3, released after period 1 */;
         17 : S(7)*S(11)*S(12)*S(13);
         15 : S(7)*S(11)*S(12)*(1-S(13));
         10 : S(7)*S(11)*(1-S(12))*S(13);
          8 : S(7)*S(11)*(1-S(12))*(1-S(13));
          4 : S(7)*(1-S(11))*S(12)*S(13);
          5 : S(7)*(1-S(11))*S(12)*(1-S(13));
          3 : S(7)*(1-S(11))*(1-S(12))*S(13);
          6 : S(7)*(1-S(11))*(1-S(12))*(1-S(13));
         12 : (1-S(7))*S(8)*S(12)*S(13);
         12 : (1-S(7))*S(8)*S(12)*(1-S(13));
         13 : (1-S(7))*S(8)*(1-S(12))*S(13);
         10 : (1-S(7))*S(8)*(1-S(12))*(1-S(13));
         14 : (1-S(7))*(1-S(8))*S(9)*S(13);
          6 : (1-S(7))*(1-S(8))*S(9)*(1-S(13));
          3 : (1-S(7))*(1-S(8))*(1-S(9))*S(10);
 COHORT = 515 /* period 3, released after period 2 */;
         69 : S(7)*S(11)*S(12)*S(13);
         44 : S(7)*S(11)*S(12)*(1-S(13));
         40 : S(7)*S(11)*(1-S(12))*S(13);
         26 : S(7)*S(11)*(1-S(12))*(1-S(13));
         36 : S(7)*(1-S(11))*S(12)*S(13);
         14 : S(7)*(1-S(11))*S(12)*(1-S(13));
         19 : S(7)*(1-S(11))*(1-S(12))*S(13);
         11 : S(7)*(1-S(11))*(1-S(12))*(1-S(13));
         82 : (1-S(7))*S(8)*S(12)*S(13);
         40 : (1-S(7))*S(8)*S(12)*(1-S(13));
         44 : (1-S(7))*S(8)*(1-S(12))*S(13);
         29 : (1-S(7))*S(8)*(1-S(12))*(1-S(13));
         26 : (1-S(7))*(1-S(8))*S(9)*S(13);
         20 : (1-S(7))*(1-S(8))*S(9)*(1-S(13));
         15 : (1-S(7))*(1-S(8))*(1-S(9))*S(10);
 COHORT = 0 /* period 4, first caught */;
          0 : S(14)*S(19)*S(20)*S(21)*S(22);
          0 : S(14)*S(19)*S(20)*S(21)*(1-S(22));
          0 : S(14)*S(19)*S(20)*(1-S(21))*S(22);
          0 : S(14)*S(19)*S(20)*(1-S(21))*(1-S(22));
          0 : S(14)*S(19)*(1-S(20))*S(21)*S(22);
          0 : S(14)*S(19)*(1-S(20))*S(21)*(1-S(22));
          0 : S(14)*S(19)*(1-S(20))*(1-S(21))*S(22);
          0 : S(14)*S(19)*(1-S(20))*(1-S(21))*(1-S(22));
          0 : S(14)*(1-S(19))*S(20)*S(21)*S(22);
          0 : S(14)*(1-S(19))*S(20)*S(21)*(1-S(22));
          0 : S(14)*(1-S(19))*S(20)*(1-S(21))*S(22);
          0 : S(14)*(1-S(19))*S(20)*(1-S(21))*(1-S(22));
          0 : S(14)*(1-S(19))*(1-S(20))*S(21)*S(22);
          0 : S(14)*(1-S(19))*(1-S(20))*S(21)*(1-S(22));
          0 : S(14)*(1-S(19))*(1-S(20))*(1-S(21))*S(22);
          0 : S(14)*(1-S(19))*(1-S(20))*(1-S(21))*(1-S(22));
          0 : (1-S(14))*S(15)*S(20)*S(21)*S(22);
          0 : (1-S(14))*S(15)*S(20)*S(21)*(1-S(22));
          0 : (1-S(14))*S(15)*S(20)*(1-S(21))*S(22);
          0 : (1-S(14))*S(15)*S(20)*(1-S(21))*(1-S(22));
          0 : (1-S(14))*S(15)*(1-S(20))*S(21)*S(22);
          0 : (1-S(14))*S(15)*(1-S(20))*S(21)*(1-S(22));
          0 : (1-S(14))*S(15)*(1-S(20))*(1-S(21))*S(22);
          0 : (1-S(14))*S(15)*(1-S(20))*(1-S(21))*(1-S(22));
          0 : (1-S(14))*(1-S(15))*S(16)*S(21)*S(22);
          0 : (1-S(14))*(1-S(15))*S(16)*S(21)*(1-S(22));
          0 : (1-S(14))*(1-S(15))*S(16)*(1-S(21))*S(22);
          0 : (1-S(14))*(1-S(15))*S(16)*(1-S(21))*(1-S(22));
          0 : (1-S(14))*(1-S(15))*(1-S(16))*S(17)*S(22);
          0 : (1-S(14))*(1-S(15))*(1-S(16))*S(17)*(1-S(22));
          0 : (1-S(14))*(1-S(15))*(1-S(16))*(1-S(17))*S(18);
 COHORT = 17 /* period 4, released after period 1 */;
          2 : S(14)*S(19)*S(20)*S(21)*S(22);
          4 : S(14)*S(19)*S(20)*S(21)*(1-S(22));
          1 : S(14)*S(19)*S(20)*(1-S(21))*S(22);
          1 : S(14)*S(19)*S(20)*(1-S(21))*(1-S(22));
          0 : S(14)*S(19)*(1-S(20))*S(21)*S(22);
          0 : S(14)*S(19)*(1-S(20))*S(21)*(1-S(22));
          0 : S(14)*S(19)*(1-S(20))*(1-S(21))*S(22);
          0 : S(14)*S(19)*(1-S(20))*(1-S(21))*(1-S(22));
          0 : S(14)*(1-S(19))*S(20)*S(21)*S(22);
          1 : S(14)*(1-S(19))*S(20)*S(21)*(1-S(22));
          0 : S(14)*(1-S(19))*S(20)*(1-S(21))*S(22);
          1 : S(14)*(1-S(19))*S(20)*(1-S(21))*(1-S(22));
          0 : S(14)*(1-S(19))*(1-S(20))*S(21)*S(22);
          0 : S(14)*(1-S(19))*(1-S(20))*S(21)*(1-S(22));
          1 : S(14)*(1-S(19))*(1-S(20))*(1-S(21))*S(22);
          0 : S(14)*(1-S(19))*(1-S(20))*(1-S(21))*(1-S(22));
          0 : (1-S(14))*S(15)*S(20)*S(21)*S(22);
          0 : (1-S(14))*S(15)*S(20)*S(21)*(1-S(22));
          0 : (1-S(14))*S(15)*S(20)*(1-S(21))*S(22);
          0 : (1-S(14))*S(15)*S(20)*(1-S(21))*(1-S(22));
          1 : (1-S(14))*S(15)*(1-S(20))*S(21)*S(22);
          0 : (1-S(14))*S(15)*(1-S(20))*S(21)*(1-S(22));
          0 : (1-S(14))*S(15)*(1-S(20))*(1-S(21))*S(22);
          0 : (1-S(14))*S(15)*(1-S(20))*(1-S(21))*(1-S(22));
          3 : (1-S(14))*(1-S(15))*S(16)*S(21)*S(22);
          1 : (1-S(14))*(1-S(15))*S(16)*S(21)*(1-S(22));
          0 : (1-S(14))*(1-S(15))*S(16)*(1-S(21))*S(22);
          1 : (1-S(14))*(1-S(15))*S(16)*(1-S(21))*(1-S(22));
          0 : (1-S(14))*(1-S(15))*(1-S(16))*S(17)*S(22);
          0 : (1-S(14))*(1-S(15))*(1-S(16))*S(17)*(1-S(22));
          0 : (1-S(14))*(1-S(15))*(1-S(16))*(1-S(17))*S(18);
 COHORT = 54 /* period 4, released after period 2 */;
          3 : S(14)*S(19)*S(20)*S(21)*S(22);
          4 : S(14)*S(19)*S(20)*S(21)*(1-S(22));
          4 : S(14)*S(19)*S(20)*(1-S(21))*S(22);
          2 : S(14)*S(19)*S(20)*(1-S(21))*(1-S(22));
          1 : S(14)*S(19)*(1-S(20))*S(21)*S(22);
          1 : S(14)*S(19)*(1-S(20))*S(21)*(1-S(22));
          2 : S(14)*S(19)*(1-S(20))*(1-S(21))*S(22);
          0 : S(14)*S(19)*(1-S(20))*(1-S(21))*(1-S(22));
          4 : S(14)*(1-S(19))*S(20)*S(21)*S(22);
          4 : S(14)*(1-S(19))*S(20)*S(21)*(1-S(22));
          3 : S(14)*(1-S(19))*S(20)*(1-S(21))*S(22);
          2 : S(14)*(1-S(19))*S(20)*(1-S(21))*(1-S(22));
          2 : S(14)*(1-S(19))*(1-S(20))*S(21)*S(22);
          1 : S(14)*(1-S(19))*(1-S(20))*S(21)*(1-S(22));
          1 : S(14)*(1-S(19))*(1-S(20))*(1-S(21))*S(22);
          1 : S(14)*(1-S(19))*(1-S(20))*(1-S(21))*(1-S(22));
          2 : (1-S(14))*S(15)*S(20)*S(21)*S(22);
          2 : (1-S(14))*S(15)*S(20)*S(21)*(1-S(22));
          0 : (1-S(14))*S(15)*S(20)*(1-S(21))*S(22);
          3 : (1-S(14))*S(15)*S(20)*(1-S(21))*(1-S(22));
          2 : (1-S(14))*S(15)*(1-S(20))*S(21)*S(22);
          1 : (1-S(14))*S(15)*(1-S(20))*S(21)*(1-S(22));
          0 : (1-S(14))*S(15)*(1-S(20))*(1-S(21))*S(22);
          0 : (1-S(14))*S(15)*(1-S(20))*(1-S(21))*(1-S(22));
          4 : (1-S(14))*(1-S(15))*S(16)*S(21)*S(22);
          2 : (1-S(14))*(1-S(15))*S(16)*S(21)*(1-S(22));
          0 : (1-S(14))*(1-S(15))*S(16)*(1-S(21))*S(22);
          1 : (1-S(14))*(1-S(15))*S(16)*(1-S(21))*(1-S(22));
          0 : (1-S(14))*(1-S(15))*(1-S(16))*S(17)*S(22);
          2 : (1-S(14))*(1-S(15))*(1-S(16))*S(17)*(1-S(22));
          0 : (1-S(14))*(1-S(15))*(1-S(16))*(1-S(17))*S(18);
 COHORT = 432 /* period 4, released after period 3 */;
         30 : S(14)*S(19)*S(20)*S(21)*S(22);
         17 : S(14)*S(19)*S(20)*S(21)*(1-S(22));
         23 : S(14)*S(19)*S(20)*(1-S(21))*S(22);
         11 : S(14)*S(19)*S(20)*(1-S(21))*(1-S(22));
         22 : S(14)*S(19)*(1-S(20))*S(21)*S(22);
         11 : S(14)*S(19)*(1-S(20))*S(21)*(1-S(22));
          4 : S(14)*S(19)*(1-S(20))*(1-S(21))*S(22);
          7 : S(14)*S(19)*(1-S(20))*(1-S(21))*(1-S(22));
         38 : S(14)*(1-S(19))*S(20)*S(21)*S(22);
         19 : S(14)*(1-S(19))*S(20)*S(21)*(1-S(22));
         18 : S(14)*(1-S(19))*S(20)*(1-S(21))*S(22);
          9 : S(14)*(1-S(19))*S(20)*(1-S(21))*(1-S(22));
         22 : S(14)*(1-S(19))*(1-S(20))*S(21)*S(22);
          8 : S(14)*(1-S(19))*(1-S(20))*S(21)*(1-S(22));
          3 : S(14)*(1-S(19))*(1-S(20))*(1-S(21))*S(22);
          5 : S(14)*(1-S(19))*(1-S(20))*(1-S(21))*(1-S(22));
         21 : (1-S(14))*S(15)*S(20)*S(21)*S(22);
         27 : (1-S(14))*S(15)*S(20)*S(21)*(1-S(22));
          7 : (1-S(14))*S(15)*S(20)*(1-S(21))*S(22);
         11 : (1-S(14))*S(15)*S(20)*(1-S(21))*(1-S(22));
         12 : (1-S(14))*S(15)*(1-S(20))*S(21)*S(22);
          6 : (1-S(14))*S(15)*(1-S(20))*S(21)*(1-S(22));
          6 : (1-S(14))*S(15)*(1-S(20))*(1-S(21))*S(22);
          2 : (1-S(14))*S(15)*(1-S(20))*(1-S(21))*(1-S(22));
         23 : (1-S(14))*(1-S(15))*S(16)*S(21)*S(22);
         19 : (1-S(14))*(1-S(15))*S(16)*S(21)*(1-S(22));
         12 : (1-S(14))*(1-S(15))*S(16)*(1-S(21))*S(22);
         10 : (1-S(14))*(1-S(15))*S(16)*(1-S(21))*(1-S(22));
         18 : (1-S(14))*(1-S(15))*(1-S(16))*S(17)*S(22);
          7 : (1-S(14))*(1-S(15))*(1-S(16))*S(17)*(1-S(22));
          4 : (1-S(14))*(1-S(15))*(1-S(16))*(1-S(17))*S(18);
 COHORT = 0 /* period 5, first caught */;
          0 : S(23)*S(25);
          0 : S(23)*(1-S(25));
          0 : (1-S(23))*S(24);
 COHORT = 1 /* period 5, released after period 1 */;
          0 : S(23)*S(25);
          0 : S(23)*(1-S(25));
          1 : (1-S(23))*S(24);
 COHORT = 3 /* period 5, released after period 2 */;
          0 : S(23)*S(25);
          1 : S(23)*(1-S(25));
          2 : (1-S(23))*S(24);
 COHORT = 42 /* period 5, released after period 3 */;
         12 : S(23)*S(25);
         15 : S(23)*(1-S(25));
         15 : (1-S(23))*S(24);
 COHORT = 245 /* period 5, released after period 4 */;
         79 : S(23)*S(25);
         88 : S(23)*(1-S(25));
         78 : (1-S(23))*S(24);
 COHORT = 894 /* released after period 1, next caught in period 2..5 */;
        605 : S(26)*PSTAR(2)*(1-S(30));
        138 : S(26)*S(27)*PSTAR(3)*A(1,3);
         17 : S(26)*S(27)*S(28)*PSTAR(4)*A(1,4);
          1 : S(26)*S(27)*S(28)*S(29)*PSTAR(5)*A(1,5);
 COHORT = 685 /* released after period 2, next caught in period 3..5 */;
        515 : S(27)*PSTAR(3)*(1-S(31));
         54 : S(27)*S(28)*PSTAR(4)*A(2,4);
          3 : S(27)*S(28)*S(29)*PSTAR(5)*A(2,5);
 COHORT = 670 /* released after period 3, next caught in period 4..5 */;
        432 : S(28)*PSTAR(4)*(1-S(32));
         42 : S(28)*S(29)*PSTAR(5)*A(3,5);
 COHORT = 503 /* released after period 4, next caught in period 5..5 */;
        245 : S(29)*PSTAR(5)*(1-S(33));
/* Competing models. Within every period capture and recapture are one
   probability (c = p on every occasion) and theta is fixed at 1 (no power
   variant). Each model is identifiable from the design: the information
   matrix of its free parameters has full rank. */
/* Model 1: no temporary emigration, survival constant, capture constant. */
PROC ESTIMATE DERIVED NAME=NO-EMIG PHI(.)P(.);
 STRUCTURE PHI(.) P(.) C(P) GAMMA(NONE);
/* Model 2: no temporary emigration, survival by period, capture constant. */
PROC ESTIMATE DERIVED NAME=NO-EMIG PHI(T)P(.);
 STRUCTURE PHI(T) P(.) C(P) GAMMA(NONE);
/* Model 3: no temporary emigration, survival constant, capture by period. */
PROC ESTIMATE DERIVED NAME=NO-EMIG PHI(.)P(T);
 STRUCTURE PHI(.) P(T) C(P) GAMMA(NONE);
/* Model 4: no temporary emigration, survival by period, capture by period. */
PROC ESTIMATE DERIVED NAME=NO-EMIG PHI(T)P(T);
 STRUCTURE PHI(T) P(T) C(P) GAMMA(NONE);
/* Model 5: random temporary emigration (gamma'' = gamma'), constant,
   survival constant, capture by period. */
PROC ESTIMATE DERIVED NAME=RANDOM(.) PHI(.)P(T);
 STRUCTURE PHI(.) P(T) C(P) GAMMA(RANDOM,.);
/* Model 6: random temporary emigration (gamma'' = gamma'), constant,
   survival by period, capture by period. */
PROC ESTIMATE DERIVED NAME=RANDOM(.) PHI(T)P(T);
 STRUCTURE PHI(T) P(T) C(P) GAMMA(RANDOM,.);
/* Model 7: random temporary emigration (gamma'' = gamma'), by period,
   survival constant, capture by period. */
PROC ESTIMATE DERIVED NAME=RANDOM(T) PHI(.)P(T);
 STRUCTURE PHI(.) P(T) C(P) GAMMA(RANDOM,T);
/* Model 8: random temporary emigration (gamma'' = gamma'), by period,
   survival by period, capture by period. Constrained: gamma''(5) =
   gamma''(4): the last period's availability is confounded with survival
   into it. */
PROC ESTIMATE DERIVED NAME=RANDOM(T) PHI(T)P(T);
 STRUCTURE PHI(T) P(T) C(P) GAMMA(RANDOM,T);
/* Model 9: Markovian temporary emigration, gamma'' and gamma' constant,
   survival constant, capture by period. */
PROC ESTIMATE DERIVED NAME=MARKOV(.) PHI(.)P(T);
 STRUCTURE PHI(.) P(T) C(P) GAMMA(MARKOV,.);
/* Model 10: Markovian temporary emigration, gamma'' and gamma' constant,
   survival by period, capture by period. */
PROC ESTIMATE DERIVED NAME=MARKOV(.) PHI(T)P(T);
 STRUCTURE PHI(T) P(T) C(P) GAMMA(MARKOV,.);
/* Model 11: Markovian temporary emigration, gamma'' and gamma' by period,
   survival constant, capture by period. */
PROC ESTIMATE DERIVED NAME=MARKOV(T) PHI(.)P(T);
 STRUCTURE PHI(.) P(T) C(P) GAMMA(MARKOV,T);
/* Model 12: Markovian temporary emigration, gamma'' and gamma' by period,
   survival by period, capture by period. Constrained: gamma''(5) =
   gamma''(4): the last period's availability is confounded with survival
   into it. Constrained: gamma'(5) = gamma'(4): the last period's
   availability is confounded with survival into it. */
PROC ESTIMATE DERIVED NAME=MARKOV(T) PHI(T)P(T);
 STRUCTURE PHI(T) P(T) C(P) GAMMA(MARKOV,T);
PROC TEST AVERAGE;
PROC STOP;
