-- The job of jobWithEveryFieldMissing.ps: one address, and every field NULL.
INSERT INTO jobs VALUES (1, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
INSERT INTO addresses VALUES (1, 1, NULL, NULL, NULL, NULL, NULL);
