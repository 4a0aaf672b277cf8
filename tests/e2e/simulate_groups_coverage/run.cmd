PROC TITLE Planned study: 2 periods of 2 and 2 occasions;
/* Written by quorvale-inp --plan for a study of 2 primary periods of 2 and
   2 secondary occasions and newly marked animals per period, in group F
   80, 80 and in group M 60, 60. The cohorts hold the numbers expected
   under the truth given (rounded to whole animals): PROC SIMULATE takes
   the sizes of the open cohorts and of the last period's first cohort from
   them. */
PROC MODEL NPAR=20 ADDCELL PRIMARY PERIODS = 2 SECONDARY = 2 2 INTERVALS = 1
    GROUPS = F M;
/* Labels: p(i,t) capture and c(i,t) recapture in period i on occasion t,
   phi(i) survival from period i to i+1, gamma''(j) unavailable in j if
   available in j-1 (leave), gamma'(j) unavailable in j if unavailable in
   j-1 (stay out), theta(i) the recapture exponent of period i. Each label
   ends with its group. */
LABELS;
  S(1)=p(1,1) capture, F;
  S(2)=p(1,2) capture, F;
  S(3)=c(1,2) recapture, F;
  S(4)=p(2,1) capture, F;
  S(5)=p(2,2) capture, F;
  S(6)=c(2,2) recapture, F;
  S(7)=phi(1) survival, F;
  S(8)=gamma''(2) leave, F;
  S(9)=theta(1), F;
  S(10)=theta(2), F;
  S(11)=p(1,1) capture, M;
  S(12)=p(1,2) capture, M;
  S(13)=c(1,2) recapture, M;
  S(14)=p(2,1) capture, M;
  S(15)=p(2,2) capture, M;
  S(16)=c(2,2) recapture, M;
  S(17)=phi(1) survival, M;
  S(18)=gamma''(2) leave, M;
  S(19)=theta(1), M;
  S(20)=theta(2), M;
/* Cohorts: for each period ip, the animals first caught in ip, then those
   released after period jp-1 and next caught in ip (jp = 2..ip), cells by
   capture history within ip. Then for each period i, the animals released
   after i, cells by the period they are next caught in. ADDCELL adds every
   cohort's last cell (never caught). The cell expressions are for reading
   only: PSTAR(j) is caught at least once in period j, A(i,j) is available
   in j and missed in between. The groups one after the other, each with
   all the cohorts and its own parameters. */
/* Group F (1 of 2): cohorts 1 to 4, parameters S(1) to S(10). */
 COHORT = 80 /* period 1, first caught */;
         27 : S(1)*S(3);
         27 : S(1)*(1-S(3));
         26 : (1-S(1))*S(2);
 COHORT = 80 /* period 2, first caught */;
         27 : S(4)*S(6);
         27 : S(4)*(1-S(6));
         26 : (1-S(4))*S(5);
 COHORT = 48 /* period 2, released after period 1 */;
         16 : S(4)*S(6);
         16 : S(4)*(1-S(6));
         16 : (1-S(4))*S(5);
 COHORT = 80 /* released after period 1, next caught in period 2..2 */;
         48 : S(7)*PSTAR(2)*(1-S(8));
/* Group M (2 of 2): cohorts 5 to 8, parameters S(11) to S(20). */
 COHORT = 60 /* period 1, first caught */;
         15 : S(11)*S(13);
         23 : S(11)*(1-S(13));
         22 : (1-S(11))*S(12);
 COHORT = 60 /* period 2, first caught */;
         15 : S(14)*S(16);
         23 : S(14)*(1-S(16));
         22 : (1-S(14))*S(15);
 COHORT = 23 /* period 2, released after period 1 */;
          6 : S(14)*S(16);
          9 : S(14)*(1-S(16));
          8 : (1-S(14))*S(15);
 COHORT = 60 /* released after period 1, next caught in period 2..2 */;
         23 : S(17)*PSTAR(2)*(1-S(18));
/* The truth as the generating model: every value as INITIAL, theta and the
   values within 0.01 of 0 or 1 fixed (an INITIAL value that close to a
   bound would be moved inside). COVERAGE prints bias, RMSE and interval
   coverage after the summaries. */
PROC SIMULATE NSIM=3 SEED=11 COVERAGE NAME=TRUTH;
 CONSTRAINT;
  S(8)=0; S(9)=1; S(10)=1; S(18)=0; S(19)=1; S(20)=1;
 INITIAL; S(1)=0.5; S(2)=0.5; S(3)=0.5; S(4)=0.5; S(5)=0.5; S(6)=0.5;
  S(7)=0.8; S(11)=0.4; S(12)=0.4; S(13)=0.4; S(14)=0.4; S(15)=0.4; S(16)=0.4;
  S(17)=0.6;
/* Competing models. Within every period capture and recapture are one
   probability (c = p on every occasion) and theta is fixed at 1 (no power
   variant). With 2 groups: capture by group and period in every model,
   survival by period and the gamma's constant, each either shared by the
   groups (PHI(T), GAMMA(RANDOM,.)) or each group's own (PHI(G*T),
   GAMMA(RANDOM,G)). A level without G is the same for all groups. Each
   model is identifiable from the design: the information matrix of its
   free parameters has full rank. */
/* Model 2: no temporary emigration, survival by group and period, capture
   by group and period. */
PROC ESTIMATE MAXFN=2000 NAME=NO-EMIG PHI(G*T);
 STRUCTURE PHI(G*T) P(G*T) C(P) GAMMA(NONE);
/* Not fitted, with 2 primary periods: RANDOM(.) PHI(T) is not
   identifiable, RANDOM(.) PHI(G*T) is not identifiable, RANDOM(G) PHI(T)
   is not identifiable, RANDOM(G) PHI(G*T) is not identifiable, MARKOV(.)
   PHI(T) is not identifiable, MARKOV(.) PHI(G*T) is not identifiable,
   MARKOV(G) PHI(T) is not identifiable, MARKOV(G) PHI(G*T) is not
   identifiable. */
PROC STOP;
