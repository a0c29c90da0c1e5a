"""A first analysis from Python: Procrustes ANOVA of plethodon's shapes on
species, site and their interaction, as geomorph's procD.lm vignette runs it.

    PYTHONPATH=build/python python3 examples/plethodon.py [DATA_DIR]
"""
import os
import sys

import quillan

data_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "data")
shapes = quillan.read(os.path.join(data_dir, "plethodon.tps"))
print(shapes)

fit = quillan.model(shapes, factors=os.path.join(data_dir, "plethodon.csv"), formula="species * site",
                    permutations=999, seed=1)
print(fit)

# The numbers behind the report, as quillan-batch --json writes them.
for term in fit.record["models"]:
    print(f"{term['name']:>14}  Rsq {term['values'].get('rsq', float('nan')):.4f}")
